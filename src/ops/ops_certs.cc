// The https side of the URL tests: the settings the page fetch uses, and the certificates of the
// tested URLs (their expiry in the metrics, the warning while one nears its end).

#include "files/all_sets.h"
#include "ops/ops_mngr_thread.h"
#include "probes/get_web_page.h"

void COpsMngrThread::ApplyFetchSettings() {
  CGetWebPage::SetCaFile(m_pSettings->m_sCaFile.View());
  CGetWebPage::SetProxy(m_pSettings->m_sProxy.View());
}

void COpsMngrThread::WatchCertificate(std::int32_t type, std::string_view url,
                                      const CUrlOutcome& outcome) {
  if (outcome.cert_expiry == 0) return;
  m_Metrics.NoteCertExpiry(type, url, outcome.cert_expiry);
  m_ItemManager.NoteCertExpiry(url, outcome.cert_expiry);
  CCertWatch::Mailer mail;
  if (m_pSettings->m_bEmailEnabled) {
    mail = [this](std::string_view u, std::int64_t days, std::string_view date) {
      return m_Emailer.SendCertExpiryEmail(u, days, date);
    };
  }
  // The warning goes to the webhooks too, as often as the warning line is written.
  m_CertWatch.Note(url, outcome.cert_expiry, UnixSecondsOf(m_Facilities.clock),
                   m_pSettings->m_iCertWarnDays, mail, [this](const std::string& text) {
                     QueueWebhooks(MakeAlertEvent(snx::alerts::AlertKind::kCertWarning, text));
                   });
}

// The local and remote URL tests.

#include "alerts/phoner.h"
#include "core/log_writer.h"
#include "files/all_sets.h"
#include "ops/ops_mngr_thread.h"
#include "ops/url_outcome.h"

bool COpsMngrThread::RunUrls() {
  m_pGoFlag = &m_pOwner->m_bGo;
  m_Mender.SetKeepGoingFlag(m_pGoFlag);
  m_bLocalUrlsOk = true;
  SetCurrentAction("GO MODE: local URLs", ".");
  const std::vector<std::string> urls = SectionEntries("[URLS]");
  const CUrlCheckSet checks(*m_pSettings);
  for (const std::string& url : urls) {
    SetCurrentAction("", url);
    LogEvent("COpsMngrThread::RunUrls() testing " + url);
    const CUrlOutcome outcome = TestUrl(url, checks.For(url));
    m_Status.NoteUrlTest(ITEM_LOCAL_URL, url, outcome);
    WatchCertificate(ITEM_LOCAL_URL, url, outcome);
    m_Metrics.NoteUrlTime(ITEM_LOCAL_URL, url, AnswerTime(outcome));
    bool changed = false;
    if (outcome.good) {
      m_ItemManager.Update(ITEM_LOCAL_URL, url, ITEM_STATE_UP, changed);
      SetCurrentAction("GO MODE: local URL OK", url);
      continue;
    }
    m_ItemManager.Update(ITEM_LOCAL_URL, url, ITEM_STATE_DOWN, changed);
    m_bLocalUrlsOk = false;
    if (outcome.result <= 0) LogError("COpsMngrThread::RunUrls() test failed for: " + url);
    LogError("Failed URL: " + url);
    LogError("Is browser in 'Work Off-line' mode?");
    SetCurrentAction("Go MODE: Failed URL", url);
    break;  // the rest of the local URLs wait for the next pass
  }
  // One pause after a good pass, not one per URL: the pass itself is not slowed by the number
  // of URLs, and a STOP during the pause still ends it.
  if (m_bLocalUrlsOk && !urls.empty()) Sleep(100);
  LogEvent("COpsMngrThread::RunUrls() testing done");
  if (m_bLocalUrlsOk) LogEvent("COpsMngrThread::RunUrls() all LOCAL URLS are alive.");
  return m_bLocalUrlsOk;
}

bool COpsMngrThread::HandleRemoteUrls(bool alerts) {
  m_pGoFlag = &m_pOwner->m_bGo;
  m_Mender.SetKeepGoingFlag(m_pGoFlag);
  const std::vector<std::string> urls = SectionEntries("[RURLS]");
  // The summary is of this pass: a URL that failed in an earlier pass and answers now no
  // longer counts as failing.
  m_iRemoteUrlState = urls.empty() ? REMOTE_URLS_NONE : REMOTE_URLS_ALIVE;
  const CUrlCheckSet checks(*m_pSettings);
  for (const std::string& url : urls) {
    bool changed = false;
    const bool good = RunNextRemoteUrl(url, checks);
    if (good) {
      SetCurrentAction("Go MODE: Remote URL OK", url);
      if (m_iRemoteUrlState != REMOTE_URLS_FAILING) m_iRemoteUrlState = REMOTE_URLS_ALIVE;
      m_ItemManager.Update(ITEM_REMOTE_URL, url, ITEM_STATE_UP, changed);
    } else {
      SetCurrentAction("Go MODE: Failed Remote URL", url);
      m_iRemoteUrlState = REMOTE_URLS_FAILING;
      m_ItemManager.Update(ITEM_REMOTE_URL, url, ITEM_STATE_DOWN, changed);
    }
    if (changed && alerts) {
      const auto event =
          good ? snx::metrics::AlertEvent::kRemoteUp : snx::metrics::AlertEvent::kRemoteDown;
      if (m_pSettings->m_bEmailEnabled) {
        if (m_Emailer.SendRemoteUrlEmail(!good, url)) {
          m_Metrics.CountAlert(snx::metrics::AlertChannel::kEmail, event);
        } else {
          LogError("Email alerts are failing.");
          LogError("Is Internet Connection OK?");
        }
      }
      if (m_pSettings->m_bPhoneAlertsReady) {
        std::lock_guard lock(m_PhoneMutex);
        if (m_Phoner.Status(4)) {
          m_Phoner.SetMessageType(good ? PHONE_MSG_REMOTE_URL_UP : PHONE_MSG_REMOTE_URL_DOWN);
          if (m_Phoner.SendCustomMessage(
                  (good ? "A monitored remote website has resumed operation. The URL is: "
                        : "A monitored remote website has failed. The URL is: ") +
                  url)) {
            m_Metrics.CountAlert(snx::metrics::AlertChannel::kPhone, event);
          }
        }
      }
    }
    Sleep(10);
  }
  LogEvent("COpsMngrThread::HandleRemoteUrls() testing done");
  if (m_iRemoteUrlState == REMOTE_URLS_ALIVE) {
    LogEvent("COpsMngrThread::HandleRemoteUrls() all REMOTE URLS are alive.");
  }
  return urls.empty();
}

bool COpsMngrThread::RunNextRemoteUrl(std::string_view url, const CUrlCheckSet& checks) {
  m_pGoFlag = &m_pOwner->m_bGo;
  m_Mender.SetKeepGoingFlag(m_pGoFlag);
  if (url.empty()) return false;
  const std::string text(url);
  LogEvent("COpsMngrThread::RunNextRemoteUrl() testing " + text);
  const CUrlOutcome outcome = TestUrl(url, checks.For(url));
  m_Status.NoteUrlTest(ITEM_REMOTE_URL, url, outcome);
  WatchCertificate(ITEM_REMOTE_URL, url, outcome);
  m_Metrics.NoteUrlTime(ITEM_REMOTE_URL, url, AnswerTime(outcome));
  if (outcome.good) return true;
  if (outcome.result <= 0) {
    LogError("COpsMngrThread::RunNextRemoteUrl() test failed for: " + text);
  }
  LogError("Failed Remote URL: " + text);
  LogError("Is browser in 'Work Off-line' mode?");
  return false;
}

#include "alerts/emailer.h"

#include <algorithm>
#include <string>

#include "core/log_writer.h"
#include "files/content_rules.h"

CEmailer::CEmailer(snx::platform::MailTransport& transport, snx::platform::Clock& clock)
    : m_pWsEmail(std::make_unique<CWsEmail>(transport, clock)) {}

CEmailer::~CEmailer() = default;

bool CEmailer::Initialize(CAllSets* settings) {
  SetState(kLive);
  m_pSettings = settings;
  m_bLive = settings != nullptr;
  if (!m_bLive) LogError("CEmailer::Initialize() failed.");
  return m_bLive;
}

bool CEmailer::ReloadEmailList() {
  CArrayStr* list = m_pSettings != nullptr ? &m_pSettings->m_EmailList : nullptr;
  CRamFileRO* image = m_pSettings != nullptr ? m_pSettings->SettingsImage() : nullptr;
  if (list != nullptr && list->Size() == 0) list->Initialize(kListSize, kListWidth);
  if (list == nullptr || image == nullptr || list->Size() == 0) {
    LogError("CEmailer::ReloadEmailList() failed.");
    return false;
  }
  list->Clear();
  int index = 0;
  for (const char* line = image->FirstLineOfSection(kEmailsSection);
       *line != '\0' && index < list->Size(); line = image->NextLineOfSection()) {
    list->SetAt(index++, line);
  }
  return true;
}

bool CEmailer::ValidateSettings(bool log) {
  if (m_pSettings == nullptr) {
    LogError("CEmailer::ValidateSettings() failed.");
    return false;
  }
  CAllSets& s = *m_pSettings;
  const struct {
    bool failed;
    const char* reason;
    bool warning_only = false;
  } checks[] = {
      {s.m_EmailList.Count() < 1, "Warning: no email recipents are defined."},
      {s.m_sSmtpServer.IsEmpty(), "Warning: no SMTP email server is defined."},
      {s.m_sEmailBodyDown.IsEmpty(), "Warning: no email down message body is defined."},
      {s.m_sEmailBodyUp.IsEmpty(), "Warning: no email up message body is defined."},
      // An empty subject goes out as it is.
      {s.m_sEmailSubject.IsEmpty(), "Warning: no email subject line is defined.", true},
      {s.m_sEmailFrom.IsEmpty(), "Warning: no email 'from address' is defined."},
      {s.m_sEmailUrl.IsEmpty(), "Warning: no 'Email Connect Url' is defined."},
      {s.m_sEmailUrl.Find("http://") < 0 && s.m_sEmailUrl.Find("https://") < 0,
       "Incorrect EmailUrl format. Use 'http://' header."},
  };
  for (const auto& check : checks) {
    if (!check.failed) continue;
    if (log) LogError(check.reason);
    if (check.warning_only) continue;
    LogError("CEmailer::ValidateSettings() failed.");
    return false;
  }
  return true;
}

bool CEmailer::SendAlertEmail(bool down, const snx::alerts::AlertEvent* event) {
  if (m_pSettings == nullptr) return false;
  std::string block = event != nullptr ? snx::alerts::MailBlock(*event) : std::string();
  return down
             ? Send(m_pSettings->m_sEmailSubjectDn, m_pSettings->m_sEmailBodyDown, std::move(block))
             : Send(m_pSettings->m_sEmailSubject, m_pSettings->m_sEmailBodyUp, std::move(block));
}

bool CEmailer::SendRemoteUrlEmail(bool down, std::string_view url) {
  const std::string u(url);
  return down ? Send("Failed Remote URL: " + u, "This Remote URL has stopped responding: " + u)
              : Send("Restored Remote URL: " + u, "This Remote URL is now OK: " + u);
}

bool CEmailer::SendCertExpiryEmail(std::string_view url, std::int64_t days, std::string_view date) {
  const std::string u(url);
  const std::string when = "expires in " + std::to_string(days) + (days == 1 ? " day" : " days");
  return Send("The certificate of " + u + " " + when,
              "The TLS certificate of this URL " + when + " (" + std::string(date) + "): " + u +
                  "\r\nRenew it before then, or the URL will count as failing.");
}

bool CEmailer::Send(std::string_view subject, std::string_view body, std::string block) {
  if (!m_bLive || !ReloadEmailList() || !ValidateSettings(false)) return false;
  CAllSets& s = *m_pSettings;
  CArrayStr& list = s.m_EmailList;
  if (list.Count() < 1) return false;

  CWsEmail& mail = *m_pWsEmail;
  CWsEmail::Security security = CWsEmail::Security::kNone;
  if (!CWsEmail::ParseSecurity(s.m_sSmtpSecurity, security)) {
    LogError("(CEmailer) SmtpSecurity must be none, starttls or tls, not '" +
             s.m_sSmtpSecurity.ToString() + "'.");
    return false;
  }
  mail.Initialize();
  mail.SetSecurity(security);
  mail.SetLogin(s.m_sSmtpUser, s.m_sSmtpPassword);
  mail.SetCaFile(s.m_sCaFile);
  mail.SetServerName(s.m_sSmtpServer);
  if (mail.ServerAddress().Length() == 0 && !mail.ResolveNameToIp(s.m_sSmtpServer)) {
    if (!mail.IsInetConnected(s.m_sEmailUrl, ContentRulesFor(s.SettingsImage(), s.m_sEmailUrl))) {
      return false;
    }
    if (!mail.ResolveNameToIp(s.m_sSmtpServer)) {
      LogError("(CEmailer) Cannot email. No Internet connection is attainable.");
      LogError("(CEmailer) Is browser set in 'Work Offline' mode perhaps?");
      return false;
    }
  }

  mail.SetFrom(s.m_sEmailFrom);
  mail.SetSubject(subject);
  mail.SetBody(body);
  mail.SetBlock(std::move(block));
  const int count = std::min(list.Count(), CWsEmail::kMaxRecipients);
  std::string_view last;
  for (int i = 0; i < count; ++i) {
    last = CQorStr::Trimmed(list.GetAt(i));
    mail.Recipients().SetAt(i, last);
  }
  if (last.empty()) return true;
  return mail.SendList();
}

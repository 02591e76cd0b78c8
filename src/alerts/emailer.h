#pragma once
// CEmailer: turns an alert of the operations thread into one e-mail message to every address
// of the settings section [EMAILS] (the first 32 of them), sent through CWsEmail. Before it
// sends it rebuilds the address list, checks the e-mail settings and makes sure the mail
// server's name resolves, fetching the connect URL to tell a missing Internet connection from a
// bad server name.

#include <cstdint>
#include <memory>
#include <string_view>

#include "alerts/alert_event.h"
#include "alerts/ws_email.h"
#include "core/qor_object.h"
#include "files/all_sets.h"
#include "platform/clock.h"
#include "platform/mail_transport.h"

class CEmailer : public CQorObject {
 public:
  static constexpr const char* kEmailsSection = "[EMAILS]";
  static constexpr int kListSize = 128;
  static constexpr int kListWidth = 255;

  CEmailer(snx::platform::MailTransport& transport, snx::platform::Clock& clock);
  CEmailer(const CEmailer&) = delete;
  CEmailer& operator=(const CEmailer&) = delete;
  ~CEmailer() override;

  // Keeps the settings model (not owned); false without one.
  bool Initialize(CAllSets* settings);
  // The server-down (true) or server-up message: the administrator's subject and body, and
  // below them what happened when `event` is given. True when it went out or there was nothing
  // to send.
  bool SendAlertEmail(bool down, const snx::alerts::AlertEvent* event = nullptr);
  // The message about a remote URL that stopped (true) or started again to respond.
  bool SendRemoteUrlEmail(bool down, std::string_view url);
  // The warning that the certificate of an https URL expires in `days` days (not an alert: the
  // server stays up).
  bool SendCertExpiryEmail(std::string_view url, std::int64_t days, std::string_view date);
  // True when the e-mail settings are complete; with `log` the reason of a failed check is
  // written too.
  bool ValidateSettings(bool log);
  // Rebuilds the address list from [EMAILS].
  bool ReloadEmailList();

  // The SMTP client, for its bounds and its stop check.
  CWsEmail& Client() { return *m_pWsEmail; }

 private:
  bool Send(std::string_view subject, std::string_view body, std::string block = {});

  CAllSets* m_pSettings = nullptr;  // not owned
  bool m_bLive = false;
  std::unique_ptr<CWsEmail> m_pWsEmail;
};

// The secured part of the mail dialogue: EHLO to learn what the server offers, STARTTLS (or TLS
// from the first byte), and the login. No credential is ever sent before TLS is up.

#include <string>

#include "alerts/smtp_extensions.h"
#include "alerts/ws_email.h"
#include "core/log_writer.h"

bool CWsEmail::Ehlo() {
  if (!SendQorStr("EHLO server\r\n") || !ReceiveAck("250")) return false;
  m_Extensions = snx::alerts::ParseEhloReply(m_ReplyLines);
  return true;
}

bool CWsEmail::StartTls() {
  // Bytes the server sent before the handshake were not protected by it: nothing may be taken
  // from them afterwards.
  if (!m_sPending.empty()) {
    LogError("CWsEmail::StartTls the server sent more before the TLS handshake; giving up.");
    m_bUsable = false;
    return false;
  }
  const snx::platform::TlsResult r =
      m_pSocket->StartTls({m_sHost, m_sCaFile.ToString()}, m_ReplyWait);
  if (!r.ok) {
    LogError("CWsEmail::StartTls TLS handshake with " + m_sHost + " failed: " + r.detail);
    m_bUsable = false;
    return false;
  }
  LogMessage("CWsEmail::StartTls TLS handshake with " + m_sHost + " done: " + r.detail);
  return true;
}

bool CWsEmail::SecureHello() {
  if (!Ehlo()) return false;
  if (m_Security == Security::kStartTls) {
    if (!m_Extensions.starttls) {
      LogError(
          "CWsEmail::StartTls the server does not offer STARTTLS; the mail is not sent "
          "in clear.");
      return false;
    }
    if (!SendQorStr("STARTTLS\r\n") || !ReceiveAck("220")) return false;
    // What the server offered before TLS counts for nothing; it is asked again.
    if (!StartTls() || !Ehlo()) return false;
  }
  return m_sUser.IsEmpty() || Login();
}

bool CWsEmail::Login() {
  using snx::alerts::Base64Encode;
  const std::string user = m_sUser.ToString();
  const std::string password = m_sPassword.ToString();
  bool accepted = false;
  if (m_Extensions.auth_plain) {
    const std::string token = Base64Encode(std::string(1, '\0') + user + '\0' + password);
    accepted = SendSecret("AUTH PLAIN " + token + "\r\n", "AUTH PLAIN (credentials not shown)") &&
               ReceiveAck("235");
  } else if (m_Extensions.auth_login) {
    accepted =
        SendQorStr("AUTH LOGIN\r\n") && ReceiveAck("334") &&
        SendSecret(Base64Encode(user) + "\r\n", "(user name not shown)") && ReceiveAck("334") &&
        SendSecret(Base64Encode(password) + "\r\n", "(password not shown)") && ReceiveAck("235");
  } else {
    LogError("CWsEmail::Login the server offers neither AUTH PLAIN nor AUTH LOGIN.");
    return false;
  }
  if (accepted) {
    LogMessage("CWsEmail::Login accepted for " + user);
  } else {
    LogError("CWsEmail::Login refused for " + user +
             (m_sLastReply.IsEmpty() ? std::string() : ": " + m_sLastReply.ToString()));
  }
  return accepted;
}

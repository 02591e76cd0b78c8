#pragma once
// CWsEmail: sends one plain-text message to a list of recipients by speaking SMTP itself over a
// TCP connection. With the security `none` it speaks plain HELO and no extensions; with
// `starttls` or `tls` (TLS from the first byte, port 465) it greets with EHLO, works over TLS
// with the server's certificate checked, and logs in (AUTH PLAIN or LOGIN) when a user is set.
// Credentials never go out in clear. It also looks the mail server's name up and can test
// whether the Internet answers by fetching a web page.
//
// A recipient the server refuses is logged and skipped; the message counts as sent when the
// server took it for at least one. After any failed step the server is told QUIT.
//
// Every wait is bounded: the name look-up, the connect, the TLS handshake and each reply get the
// reply wait (30 s unless set otherwise), and a stop check, when set, ends a wait within a
// second.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/smtp_extensions.h"
#include "core/array_str.h"
#include "core/qor_object.h"
#include "core/qor_str.h"
#include "files/content_rules.h"
#include "platform/clock.h"
#include "platform/mail_transport.h"

class CWsEmail : public CQorObject {
 public:
  enum class Security { kNone, kStartTls, kTls };
  static constexpr std::uint16_t kDefaultPort = 25;
  static constexpr std::uint16_t kDefaultTlsPort = 465;
  static constexpr int kMaxRecipients = 32;
  static constexpr int kAddressWidth = 255;
  static constexpr std::chrono::milliseconds kDefaultReplyWait{30000};
  static constexpr std::size_t kReadChunk = 2040;      // bytes asked for per receive
  static constexpr std::size_t kMaxReplyBytes = 8192;  // the most one reply may take
  static constexpr int kMaxReplies = 5;                // replies read for the 354 and the 221

  CWsEmail(snx::platform::MailTransport& transport, snx::platform::Clock& clock);
  CWsEmail(const CWsEmail&) = delete;
  CWsEmail& operator=(const CWsEmail&) = delete;
  ~CWsEmail() override;

  // Prepares and clears the recipients and marks the object live.
  bool Initialize();
  // Looks the host of a server text ("host" or "host:port") up and keeps its IPv4 address and
  // port; a bad port counts as a name that cannot be resolved.
  bool ResolveNameToIp(std::string_view server);
  // Speaks the whole dialogue for one message. True when the server took the message (the
  // "250" after the message's end); every failure is logged.
  bool SendList();
  // Sends one text; true when the connection took all of it.
  bool SendQorStr(std::string_view text);
  // Reads one whole reply and logs its lines; true when it carries `code`.
  bool ReceiveAck(std::string_view code);
  // The local date and time, e.g. "Mon, 5 Jan 2004 09:07:03" (the zone is in DateZone()).
  void BuildDateText();
  // True when the web page at `url` can be fetched (any status) and its body keeps `content`
  // (the [CONTENT] lines of that URL): a portal page in place of the real one is no Internet.
  bool IsInetConnected(std::string_view url, const std::vector<CContentRule>& content = {});

  // ---- set by the caller ----
  void SetFrom(std::string_view from) { m_sFrom.Assign(from); }
  void SetSubject(std::string_view subject) { m_sSubject.Assign(subject); }
  void SetBody(std::string_view body) { m_sBody.Assign(body); }
  // Lines sent after the body and a blank line (what happened, for the reader); "" for none.
  void SetBlock(std::string block) { m_sBlock = std::move(block); }
  // The server text; a server address resolved for another name is forgotten.
  void SetServerName(std::string_view server);
  CArrayStr& Recipients() { return m_Recipients; }
  // Bound on the connect and on each reply (tests shorten it).
  void SetReplyWait(std::chrono::milliseconds wait) { m_ReplyWait = wait; }
  // How the connection is secured; a change forgets the server address resolved before.
  void SetSecurity(Security security);
  // "none" (or empty), "starttls" or "tls", without case; false for any other word.
  static bool ParseSecurity(std::string_view text, Security& out);
  // The login used over TLS; an empty user means none.
  void SetLogin(std::string_view user, std::string_view password) {
    m_sUser.Assign(user);
    m_sPassword.Assign(password);
  }
  // A CA file trusted besides the system's store.
  void SetCaFile(std::string_view path) { m_sCaFile.Assign(path); }
  // Checked between the slices of a wait; true ends the wait as a failure.
  void SetStopCheck(std::function<bool()> stop) { m_fnStop = std::move(stop); }

  const CQorStr& ServerAddress() const { return m_sServerAddress; }
  std::uint16_t ServerPort() const { return m_uServerPort; }
  const CQorStr& DateText() const { return m_sDateText; }
  const CQorStr& LastReply() const { return m_sLastReply; }
  // The recipients the server refused in the last SendList.
  const std::vector<std::string>& RefusedRecipients() const { return m_Refused; }
  // The local offset from UTC in the form of a Date header: "+0100", "-0600".
  std::string DateZone() const { return m_sDateZone; }

 private:
  enum class Await { kSeen, kRefused, kNothing, kOther };
  bool Dialogue();
  // EHLO, STARTTLS and the login, for the secured setups (ws_email_secure.cc).
  bool SecureHello();
  bool Ehlo();
  bool StartTls();
  bool Login();
  // Sends a line that carries a secret; the log shows `shown` in its place.
  bool SendSecret(std::string_view text, std::string_view shown);
  bool SendRecipients();
  // Says goodbye after a failed step, when the connection can still carry it.
  void Quit();
  // Reads up to kMaxReplies replies until one carries `code`.
  Await AwaitReply(std::string_view code);
  // Reads until a whole reply is pending or the wait ends; false when nothing came at all.
  bool GatherReply(std::vector<std::string>& lines);
  bool HeadersAreSafe();
  std::string StuffedBody() const;
  // Message-ID, MIME-Version and Content-Type, each ended by CR LF.
  std::string MimeHeaders() const;
  void LogResult(bool sent);

  snx::platform::MailTransport& m_Transport;
  snx::platform::Clock& m_Clock;

  CQorStr m_sFrom;
  CQorStr m_sSubject;
  CQorStr m_sBody;
  std::string m_sBlock;
  CArrayStr m_Recipients;
  // The lines sent are held whole, whatever their length: a line cut short would lose its end.
  std::string m_sMailFrom;
  std::string m_sRcpt;
  std::string m_sDateHdr;
  std::string m_sSubjectHdr;
  std::string m_sFromHdr;
  std::string m_sToHdr;
  CQorStr m_sSmtpServer;
  CQorStr m_sServerAddress;
  CQorStr m_sResolvedFor;  // the server text the address belongs to
  std::uint16_t m_uServerPort = kDefaultPort;
  std::string m_sHost;  // the server's name as set, for the certificate check
  Security m_Security = Security::kNone;
  CQorStr m_sUser;
  CQorStr m_sPassword;
  CQorStr m_sCaFile;
  std::vector<std::string> m_ReplyLines;     // the lines of the last reply
  snx::alerts::SmtpExtensions m_Extensions;  // what the last EHLO offered
  std::vector<std::string> m_Refused;
  bool m_bUsable = false;  // the connection can still carry a command
  bool m_bLive = false;
  std::unique_ptr<snx::platform::TcpConnection> m_pSocket;
  CQorStr m_sDateText;
  std::string m_sDateZone = "+0000";
  CQorStr m_sLastReply;
  std::string m_sPending;  // bytes received beyond the last whole reply
  std::chrono::milliseconds m_ReplyWait = kDefaultReplyWait;
  std::function<bool()> m_fnStop;
};

#include "alerts/ws_email.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "alerts/smtp_reply.h"
#include "core/log_writer.h"
#include "files/settings_check.h"
#include "platform/ascii.h"
#include "platform/visible_text.h"
#include "probes/get_web_page.h"

using snx::platform::Received;
using snx::platform::VisibleText;

namespace {

constexpr std::chrono::milliseconds kWaitSlice{1000};

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

std::string WithoutLineEnd(std::string_view text) {
  if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n") text.remove_suffix(2);
  return std::string(text);
}

}  // namespace

CWsEmail::CWsEmail(snx::platform::MailTransport& transport, snx::platform::Clock& clock)
    : m_Transport(transport), m_Clock(clock) {}

CWsEmail::~CWsEmail() = default;

bool CWsEmail::Initialize() {
  SetState(kLive);
  if (m_Recipients.Size() == 0) m_Recipients.Initialize(kMaxRecipients, kAddressWidth);
  m_Recipients.Clear();
  m_sBlock.clear();
  m_bLive = true;
  return true;
}

void CWsEmail::SetServerName(std::string_view server) {
  m_sSmtpServer.Assign(server);
  if (!m_sResolvedFor.IsEqual(server)) m_sServerAddress.Clear();
}

void CWsEmail::SetSecurity(Security security) {
  if (security != m_Security) m_sServerAddress.Clear();  // the default port may differ
  m_Security = security;
}

bool CWsEmail::ParseSecurity(std::string_view text, Security& out) {
  using snx::platform::EqualsNoCase;
  text = CQorStr::Trimmed(text);
  if (text.empty() || EqualsNoCase(text, "none")) {
    out = Security::kNone;
  } else if (EqualsNoCase(text, "starttls")) {
    out = Security::kStartTls;
  } else if (EqualsNoCase(text, "tls")) {
    out = Security::kTls;
  } else {
    return false;
  }
  return true;
}

bool CWsEmail::ResolveNameToIp(std::string_view server) {
  std::string host;
  std::uint16_t port = m_Security == Security::kTls ? kDefaultTlsPort : kDefaultPort;
  std::string address;
  if (snx::settings::SplitMailServer(server, host, port)) {
    address = m_Transport.ResolveIpv4(host, m_ReplyWait);
  }
  if (address.empty()) {
    LogError("CWsEmail::ResolveNameToIp() cannot resolve address.");
    m_sServerAddress.Clear();
    LogError("CWsEmail::ResolveNameToIp() failed.");
    return false;
  }
  m_sServerAddress.Assign(address);
  m_uServerPort = port;
  m_sHost = host;
  m_sResolvedFor.Assign(server);
  return true;
}

void CWsEmail::BuildDateText() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const snx::platform::LocalTime t = m_Clock.ToLocal(m_Clock.WallNow());
  using namespace std::chrono;
  const year_month_day ymd{year(t.year), month(static_cast<unsigned>(t.month)),
                           day(static_cast<unsigned>(t.day))};
  const unsigned weekday = ymd.ok() ? std::chrono::weekday(sys_days(ymd)).c_encoding() : 0;
  const int month_index = std::clamp(t.month, 1, 12) - 1;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d", kDays[weekday], t.day,
                kMonths[month_index], t.year, t.hour, t.minute, t.second);
  m_sDateText.Assign(text);
  const int offset = std::abs(t.utc_offset_minutes);
  std::snprintf(text, sizeof text, "%c%02d%02d", t.utc_offset_minutes < 0 ? '-' : '+',
                std::min(offset / 60, 99), offset % 60);
  m_sDateZone = text;
}

bool CWsEmail::IsInetConnected(std::string_view url, const std::vector<CContentRule>& content) {
  CGetWebPage page;
  if (!content.empty()) page.KeepBody(kContentBodyBytes);
  std::string failure;
  const bool answered = page.Go("D", url) == 0;
  if (answered) failure = ContentFailure(url, page.Body(), page.BodyCut(), content);
  if (!failure.empty()) LogError(failure);
  if (answered && failure.empty()) {
    LogEvent("CWsEmail::Inet Connected");
    return true;
  }
  LogEvent("CWsEmail::Inet Not Connected");
  return false;
}

bool CWsEmail::SendQorStr(std::string_view text) {
  return SendSecret(text, VisibleText(WithoutLineEnd(text)));
}

bool CWsEmail::SendSecret(std::string_view text, std::string_view shown) {
  std::string error;
  if (m_pSocket == nullptr || !m_pSocket->Send(text, m_ReplyWait, error)) {
    LogError("CWsEmail::SendQorStr() failed: " + error);
    m_bUsable = false;
    return false;
  }
  LogEvent("CWsEmail::SendQorStr sent: " + std::string(shown));
  return true;
}

bool CWsEmail::GatherReply(std::vector<std::string>& lines) {
  const auto deadline = m_Clock.MonoNow() + m_ReplyWait;
  bool timed_out = false;
  bool stopped = false;
  while (!snx::alerts::TakeReply(m_sPending, lines)) {
    if (m_sPending.size() >= kMaxReplyBytes) {
      LogError("CWsEmail::ReceiveAck reply longer than " + std::to_string(kMaxReplyBytes) +
               " bytes.");
      break;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - m_Clock.MonoNow());
    stopped = m_fnStop && m_fnStop();
    timed_out = left.count() <= 0;
    if (stopped || timed_out) break;
    const Received r = m_pSocket->Receive(std::min(kReadChunk, kMaxReplyBytes - m_sPending.size()),
                                          std::min(left, kWaitSlice));
    if (r.status == Received::Status::kData) {
      m_sPending += r.bytes;
    } else if (r.status != Received::Status::kTimedOut) {
      if (r.status == Received::Status::kError) LogError("CWsEmail::ReceiveAck " + r.error);
      m_bUsable = false;
      break;
    }
  }
  if (lines.empty()) snx::alerts::TakeAllLines(m_sPending, lines);  // a piece without its end
  if (!lines.empty()) return true;
  if (stopped) LogError("CWsEmail::ReceiveAck stopped waiting.");
  if (timed_out) {
    LogError("CWsEmail::ReceiveAck no reply within " + std::to_string(m_ReplyWait.count()) +
             " ms.");
  }
  LogError("CWsEmail::ReceiveAck recv read no bytes.");
  return false;
}

bool CWsEmail::ReceiveAck(std::string_view code) {
  m_sLastReply.Clear();
  m_ReplyLines.clear();
  std::vector<std::string>& lines = m_ReplyLines;
  if (m_pSocket == nullptr || !GatherReply(lines)) return false;
  bool seen = false;
  for (const auto& line : lines) {
    const std::string shown = VisibleText(line);
    m_sLastReply.Assign(std::string_view(shown).substr(0, CQorStr::kMaxLength));
    LogEvent(shown);
    if (snx::alerts::HasReplyCode(line, code)) seen = true;
  }
  return seen;
}

CWsEmail::Await CWsEmail::AwaitReply(std::string_view code) {
  for (int i = 0; i < kMaxReplies; ++i) {
    if (ReceiveAck(code)) return Await::kSeen;
    if (m_sLastReply.IsEmpty()) return Await::kNothing;
    // A server that refuses (4xx, 5xx) says nothing more; waiting for it would only hold us.
    const char first = m_sLastReply.GetBuffer()[0];
    if (first == '4' || first == '5') return Await::kRefused;
  }
  return Await::kOther;
}

bool CWsEmail::HeadersAreSafe() {
  auto bad = [](std::string_view address) {
    return std::any_of(address.begin(), address.end(), IsControl);
  };
  bool safe = !bad(m_sFrom);
  for (int i = 0; safe && i < m_Recipients.Count(); ++i) safe = !bad(m_Recipients.GetAt(i));
  if (!safe) LogError("CWsEmail::SendList() Error: an address holds a control character.");
  return safe;
}

std::string CWsEmail::MimeHeaders() const {
  // The host part of the Message-ID is the sender's domain, as far as it is a plain name.
  const std::string_view from = m_sFrom.View();
  const std::size_t at = from.rfind('@');
  std::string domain;
  if (at != std::string_view::npos) {
    for (const char c : from.substr(at + 1)) {
      if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-') domain += c;
    }
  }
  if (domain.empty()) domain = "snxsvc.invalid";
  static std::atomic<unsigned> sequence{0};
  static const unsigned salt = std::random_device{}();
  const auto now =
      std::chrono::duration_cast<std::chrono::milliseconds>(m_Clock.WallNow().time_since_epoch())
          .count();
  char id[96];
  std::snprintf(id, sizeof id, "%lld.%u.%08x", static_cast<long long>(now), ++sequence, salt);
  return "Message-ID: <" + std::string(id) + ".snxsvc@" + domain + ">\r\n" +
         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n";
}

std::string CWsEmail::StuffedBody() const {
  std::string out;
  std::string whole = m_sBody.ToString();
  if (!m_sBlock.empty()) whole += "\n\n" + m_sBlock;
  std::string_view rest = whole;
  for (;;) {
    const std::size_t end = rest.find_first_of("\r\n");
    const std::string_view line = rest.substr(0, end);
    if (!line.empty() && line.front() == '.') out += '.';
    out.append(line);
    out += "\r\n";
    if (end == std::string_view::npos) return out;
    rest.remove_prefix(end + (rest.substr(end, 2) == "\r\n" ? 2 : 1));
  }
}

bool CWsEmail::SendRecipients() {
  int accepted = 0;
  for (int i = 0; i < m_Recipients.Count(); ++i) {
    m_sRcpt = std::string("Rcpt To:<") + m_Recipients.GetAt(i) + "> \r\n";
    if (!SendQorStr(m_sRcpt)) return false;
    if (ReceiveAck("250") || snx::alerts::HasReplyCode(m_sLastReply, "251")) {
      ++accepted;
      continue;
    }
    // One address the server will not take must not keep the alert from the others.
    const char first = m_sLastReply.IsEmpty() ? '\0' : m_sLastReply.GetBuffer()[0];
    if (first != '4' && first != '5') return false;
    m_Refused.emplace_back(m_Recipients.GetAt(i));
    LogError("CWsEmail::SendList() recipient refused: " + m_Refused.back() + " (" +
             m_sLastReply.ToString() + ")");
  }
  if (accepted == 0) LogError("CWsEmail::SendList() the server refused every recipient.");
  return accepted > 0;
}

void CWsEmail::Quit() {
  if (!m_bUsable) return;
  // A server that answered the failed step with a reply code is told goodbye and given one
  // reply's wait; one that said nothing, or nothing that reads as a reply, is left as it is.
  const std::string_view last = m_sLastReply.View();
  const bool answering =
      last.size() >= 3 &&
      std::all_of(last.begin(), last.begin() + 3, [](char c) { return c >= '0' && c <= '9'; });
  if (answering && SendQorStr("QUIT\r\n")) ReceiveAck("221");
}

bool CWsEmail::Dialogue() {
  if (m_Security == Security::kTls && !StartTls()) return false;
  if (!ReceiveAck("220")) return false;
  if (m_Security == Security::kNone) {
    if (!SendQorStr("HELO server \r\n") || !ReceiveAck("250")) return false;
  } else if (!SecureHello()) {
    return false;
  }
  if (!SendQorStr(m_sMailFrom) || !ReceiveAck("250")) return false;
  if (!SendRecipients()) return false;
  if (!SendQorStr("DATA \r\n")) return false;
  const Await data = AwaitReply("354");
  if (data == Await::kRefused || data == Await::kNothing) return false;
  const std::string body = StuffedBody();
  for (const std::string_view text :
       {std::string_view(m_sFromHdr), std::string_view(m_sDateHdr),
        std::string_view("X-Mailer: SMTP Sender \r\n"), std::string_view(m_sToHdr),
        std::string_view(m_sSubjectHdr), std::string_view("\r\n"), std::string_view(body)}) {
    if (!SendQorStr(text)) return false;
  }
  if (!SendQorStr(".\r\n") || !ReceiveAck("250")) return false;
  // The server has the message now; how the goodbye goes changes nothing about that.
  if (SendQorStr("QUIT\r\n")) AwaitReply("221");
  return true;
}

void CWsEmail::LogResult(bool sent) {
  const std::string rcpt = WithoutLineEnd(m_sRcpt);
  if (sent) {
    LogMessage("Email sent to " + rcpt);
    LogMessage("Email content was: " + m_sBody.ToString());
  } else {
    LogError("Failure sending email to " + rcpt);
    LogError("Email content was: " + m_sBody.ToString());
  }
}

bool CWsEmail::SendList() {
  bool sent = false;
  m_Refused.clear();
  if (m_Security == Security::kNone && !m_sUser.IsEmpty()) {
    LogError(
        "CWsEmail::SendList() SmtpUser is set but SmtpSecurity is none: no login, "
        "credentials are never sent in clear.");
  }
  if (m_Recipients.Count() > 0 && HeadersAreSafe()) {
    const std::string from = m_sFrom.ToString();
    m_sMailFrom = "Mail From:<" + from + "> \r\n";
    m_sFromHdr = "From:<" + from + "> \r\n";
    BuildDateText();
    // The MIME headers travel with the Date line: the dialogue sends the same texts as before.
    m_sDateHdr = "Date: " + m_sDateText.ToString() + " " + m_sDateZone + " \r\n" + MimeHeaders();
    // A line end in the subject would start a header of its own: it becomes a blank.
    std::string subject = m_sSubject.ToString();
    std::replace_if(subject.begin(), subject.end(), IsControl, ' ');
    m_sSubjectHdr = "Subject: " + subject + "\r\n";
    m_sToHdr = "To: ";
    for (int i = 0; i < m_Recipients.Count(); ++i) {
      if (i > 0) m_sToHdr += " , ";
      m_sToHdr += m_Recipients.GetAt(i);
    }
    m_sToHdr += " \r\n";

    LogEvent("CWsEmail::SendList() 3");
    LogEvent("CWsEmail::SendList() 4");
    snx::platform::Connected c = m_Transport.Connect(m_sServerAddress, m_uServerPort, m_ReplyWait);
    if (c.connection == nullptr) {
      LogError("CWsEmail::SendList() connect() failed: " + c.error);
    } else {
      m_pSocket = std::move(c.connection);
      m_sPending.clear();
      m_bUsable = true;
      LogEvent("CWsEmail::SendList() 5");
      sent = Dialogue();
      if (sent) LogResult(true);
      if (!sent) Quit();
      m_pSocket.reset();
      m_sPending.clear();
      LogEvent("CWsEmail::SendList() sent message.");
    }
  }
  if (!sent) LogResult(false);
  return sent;
}

// The SMTP dialogue against a scripted server, what EHLO answers offer, and the login's base64.

#include "alerts/ws_email.h"

#include <gmock/gmock.h>

#include <regex>

#include "alerts/smtp_extensions.h"
#include "alerts/smtp_script.h"
#include "platform/fake/fake_clock.h"
#include "support/test_support.h"

namespace {

using snx::platform::FakeClock;
using snx::platform::FakeMailTransport;
using ::testing::AllOf;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Le;
using ::testing::Not;

class WsEmailTest : public ::testing::Test {
 protected:
  WsEmailTest() {
    clock_.SetWall(FakeClock::FromUtc(2004, 1, 5, 9, 7, 3));
    Ready(net_, mail_);
    mail_.SetSubject("Server down");
    mail_.SetBody("The server is down.");
  }
  // A server that takes every message, and a message from watch@ to a@ to send through it.
  static void Ready(FakeMailTransport& net, CWsEmail& mail) {
    net.AddHost("mail.example", "192.0.2.7");
    snx::test::AcceptAllMail(net);
    mail.Initialize();
    mail.SetFrom("watch@example.org");
    mail.Recipients().SetAt(0, "a@example.org");
  }
  bool Send() {
    EXPECT_TRUE(mail_.ResolveNameToIp("mail.example"));
    log_.Clear();
    return mail_.SendList();
  }

  FakeClock clock_;
  FakeMailTransport net_{&clock_};
  snx::test::CapturingLog log_;
  CWsEmail mail_{net_, clock_};
};

TEST_F(WsEmailTest, SendsTheWholeDialogueWithABlankLineAndADotStuffedBody) {
  clock_.SetUtcOffset(std::chrono::minutes(-360));
  // Replies in pieces are gathered, and bytes beyond a whole reply are the next reply's.
  net_.Greet({"22", "0-mail.example\r\n220-second\x1b[2J", " line\r\n220 ", "ready\r\n"});
  net_.OnCommand("HELO", {"250-hello\r\n250 ok\r\n250 sender ok\r\n"});
  net_.OnCommand("MAIL", {});
  mail_.Recipients().SetAt(1, "b@example.org");
  mail_.Recipients().SetAt(2, "c@example.org");
  mail_.SetBody("first\n.\r\n..two\rQUIT");
  ASSERT_TRUE(Send());
  // The Message-ID is new for every message: the time, a count and a salt, at the sender's domain.
  const std::regex id("Message-ID: <[0-9]+\\.[0-9]+\\.[0-9a-f]{8}\\.snxsvc@example\\.org>");
  EXPECT_EQ(std::regex_replace(net_.SentBytes(), id, "Message-ID: <ID>"),
            "HELO server \r\n"
            "Mail From:<watch@example.org> \r\n"
            "Rcpt To:<a@example.org> \r\n"
            "Rcpt To:<b@example.org> \r\n"
            "Rcpt To:<c@example.org> \r\n"
            "DATA \r\n"
            "From:<watch@example.org> \r\n"
            "Date: Mon, 5 Jan 2004 03:07:03 -0600 \r\n"
            "Message-ID: <ID>\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=UTF-8\r\n"
            "X-Mailer: SMTP Sender \r\n"
            "To: a@example.org , b@example.org , c@example.org \r\n"
            "Subject: Server down\r\n"
            "\r\n"
            "first\r\n..\r\n...two\r\nQUIT\r\n"
            ".\r\n"
            "QUIT\r\n");
  EXPECT_THAT(log_.Messages(), ElementsAre("Email sent to Rcpt To:<c@example.org> ",
                                           "Email content was: first\n.\r\n..two\rQUIT"));
  EXPECT_TRUE(log_.HasEvent("220-second\\x1b[2J line"));  // every line, made visible
  EXPECT_TRUE(log_.HasEvent("250 sender ok"));
}

TEST_F(WsEmailTest, DialoguesThatBreakOffAreFailures) {
  // (Servers that refuse the greeting or DATA, or hang up, are in the socket tests.)
  // The command whose reply is replaced ("" for the greeting), the reply, and the last text that
  // went out before the QUIT.
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {"", "554 5.7.1 <x@220.example>\r\n", ""},  // a code inside the text is no ack
      {"MAIL", "550 no\r\n", "Mail From:<watch@example.org> \r\n"},
      {".", "552 too big\r\n", ".\r\n"},
  };
  for (const auto& [command, reply, last_sent] : cases) {
    SCOPED_TRACE(reply);
    snx::test::AcceptAllMail(net_);
    *command == '\0' ? net_.Greet({reply}) : net_.OnCommand(command, {reply});
    EXPECT_FALSE(Send());
    // A server that refused a step is still told goodbye.
    ASSERT_FALSE(net_.sent().empty());
    EXPECT_EQ(net_.sent().back(), "QUIT\r\n");
    EXPECT_EQ(net_.sent().size() < 2 ? "" : net_.sent()[net_.sent().size() - 2], last_sent);
    EXPECT_TRUE(log_.HasEvent("CWsEmail::SendList() sent message."));
    EXPECT_TRUE(log_.HasError("Email content was: The server is down."));
  }
  net_.RefuseConnections("Connection refused");
  EXPECT_FALSE(Send());
  EXPECT_TRUE(log_.HasError("CWsEmail::SendList() connect() failed: Connection refused"));
  EXPECT_FALSE(log_.HasEvent("CWsEmail::SendList() sent message."));
}

TEST_F(WsEmailTest, ALongReplyIsCutAtItsBound) {
  net_.Greet({std::string(CWsEmail::kMaxReplyBytes * 2, 'x')});
  EXPECT_FALSE(Send());
  EXPECT_TRUE(log_.HasError("CWsEmail::ReceiveAck reply longer than 8192 bytes."));
  EXPECT_LE(net_.receive_timeouts().size(), 5u);
}

TEST_F(WsEmailTest, ASilentServerIsGivenUpWithinTheBoundInShortSlices) {
  net_.OnCommand("HELO", {});
  const auto start = clock_.MonoNow();
  EXPECT_FALSE(Send());
  EXPECT_EQ(clock_.MonoNow() - start, CWsEmail::kDefaultReplyWait);
  EXPECT_THAT(net_.receive_timeouts(), Each(Le(std::chrono::milliseconds(1000))));
  EXPECT_EQ(net_.connects()[0].timeout, CWsEmail::kDefaultReplyWait);
  EXPECT_TRUE(log_.HasError("CWsEmail::ReceiveAck no reply within 30000 ms."));
  EXPECT_TRUE(log_.HasError("CWsEmail::ReceiveAck recv read no bytes."));

  // A stop request ends the wait at the next slice.
  int checks = 0;
  mail_.SetStopCheck([&] { return ++checks > 2; });
  const auto again = clock_.MonoNow();
  EXPECT_FALSE(mail_.SendList());
  EXPECT_LE(clock_.MonoNow() - again, std::chrono::seconds(2));
}

TEST_F(WsEmailTest, RepliesWithoutA354AreReadFiveTimesThenTheMessageGoesOn) {
  net_.OnCommand("DATA", {"250 a\r\n250 b\r\n", "250 c\r\n250 d\r\n250 e\r\n"});
  EXPECT_TRUE(Send());
  EXPECT_THAT(net_.SentBytes(), HasSubstr("\r\nThe server is down.\r\n.\r\nQUIT\r\n"));
  // A goodbye that never comes changes nothing once the message was taken.
  net_.OnCommand("QUIT", {});
  EXPECT_TRUE(mail_.SendList());
}

TEST_F(WsEmailTest, NothingIsSentWithoutRecipientsOrWithALineBreakInAnAddress) {
  CWsEmail empty(net_, clock_);
  empty.Initialize();
  EXPECT_FALSE(empty.SendList());
  EXPECT_THAT(log_.Errors(), ElementsAre("Failure sending email to ", "Email content was: "));

  mail_.Recipients().SetAt(1, "b@example.org>\r\nRCPT TO:<evil@example.org");
  EXPECT_FALSE(Send());
  mail_.Recipients().SetAt(1, "b@example.org");
  mail_.SetFrom("watch@example.org>\r\nDATA");
  EXPECT_FALSE(Send());
  EXPECT_TRUE(net_.connects().empty());
  EXPECT_TRUE(log_.HasError("CWsEmail::SendList() Error: an address holds a control character."));

  // A line end in the subject becomes a blank instead of a header of its own.
  mail_.SetFrom("watch@example.org");
  mail_.SetSubject("down\r\nBcc: evil@example.org");
  ASSERT_TRUE(Send());
  EXPECT_THAT(net_.SentBytes(), HasSubstr("Subject: down  Bcc: evil@example.org\r\n"));
}

TEST_F(WsEmailTest, DateTextAndZone) {
  // The time, the local offset in minutes, and the date and the zone written.
  const std::tuple<FakeClock::WallTime, int, const char*, const char*> cases[] = {
      {FakeClock::FromUtc(2004, 5, 1, 23, 0, 0), 330, "Sun, 2 May 2004 04:30:00", "+0530"},
      {FakeClock::FromUtc(2024, 3, 1, 5, 0, 0), -570, "Thu, 29 Feb 2024 19:30:00", "-0930"},
  };
  for (const auto& [at, offset_minutes, text, zone] : cases) {
    clock_.SetWall(at);
    clock_.SetUtcOffset(std::chrono::minutes(offset_minutes));
    mail_.BuildDateText();
    EXPECT_EQ(std::tuple(mail_.DateText().ToString(), mail_.DateZone()), std::tuple(text, zone));
  }
}

TEST_F(WsEmailTest, ServerTextsWithAndWithoutAPort) {
  EXPECT_TRUE(mail_.ResolveNameToIp(" mail.example:2525 ") && mail_.ServerPort() == 2525);
  EXPECT_EQ(net_.resolve_timeout(), CWsEmail::kDefaultReplyWait);  // the look-up is bounded too
  mail_.SetSecurity(CWsEmail::Security::kTls);
  EXPECT_TRUE(mail_.ResolveNameToIp("mail.example") && mail_.ServerPort() == 465);
  mail_.SetSecurity(CWsEmail::Security::kNone);
  EXPECT_TRUE(mail_.ResolveNameToIp("MAIL.example") && mail_.ServerPort() == 25);
  for (const char* bad : {"mail.example:0", "mail.example:65536", "mail.example:", ":25",
                          "mail.example:2x", "other.example", ""}) {
    SCOPED_TRACE(bad);
    log_.Clear();
    EXPECT_FALSE(mail_.ResolveNameToIp(bad));
    EXPECT_TRUE(mail_.ServerAddress().View().empty());
    EXPECT_THAT(log_.Errors(), ElementsAre("CWsEmail::ResolveNameToIp() cannot resolve address.",
                                           "CWsEmail::ResolveNameToIp() failed."));
  }
  // An address found for one server name is not used for another.
  ASSERT_TRUE(mail_.ResolveNameToIp("mail.example"));
  mail_.SetServerName("other.example");
  EXPECT_TRUE(mail_.ServerAddress().View().empty());
}

// The first word of every text sent, in order ("<tls>" where TLS started).
std::vector<std::string> Commands(const FakeMailTransport& net) {
  std::vector<std::string> out;
  for (const auto& text : net.sent()) {
    if (text.rfind("From:", 0) == 0) break;  // the message itself follows DATA
    out.push_back(text.substr(0, text.find_first_of(" :\r")));
  }
  return out;
}

TEST_F(WsEmailTest, SecurityModesSpeakTheirDialoguesAndNeverSendCredentialsInClear) {
  using S = CWsEmail::Security;
  using V = std::vector<std::string>;
  const std::string user64 = snx::alerts::Base64Encode("watch");
  const std::string pass64 = snx::alerts::Base64Encode("s3cret");
  const struct {
    const char* name;
    S security;
    const char* ehlo;  // the EHLO reply
    const char* tls_failure;
    bool sent;
    V commands;
    std::uint16_t port;
  } cases[] = {
      // The login is ignored without TLS: today's commands, in today's order.
      {"none", S::kNone, "", "", true, V{"HELO", "Mail", "Rcpt", "DATA"}, 25},
      {"starttls", S::kStartTls, "250-mail.example\r\n250-STARTTLS\r\n250 AUTH LOGIN PLAIN\r\n", "",
       true, V{"EHLO", "STARTTLS", "<tls>", "EHLO", "AUTH", "Mail", "Rcpt", "DATA"}, 25},
      {"not offered", S::kStartTls, "250-mail.example\r\n250 AUTH PLAIN\r\n", "", false,
       V{"EHLO", "QUIT"}, 25},
      {"tls, LOGIN only", S::kTls, "250-mail.example\r\n250 AUTH=LOGIN\r\n", "", true,
       V{"<tls>", "EHLO", "AUTH", user64, pass64, "Mail", "Rcpt", "DATA"}, 465},
      {"no AUTH offered", S::kTls, "250 mail.example\r\n", "", false, V{"<tls>", "EHLO", "QUIT"},
       465},
      {"bad certificate", S::kTls, "", "certificate not trusted: self-signed certificate", false,
       V{"<tls>"}, 465},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeMailTransport net(&clock_);
    CWsEmail mail(net, clock_);
    Ready(net, mail);
    net.OnCommand("EHLO", {c.ehlo});
    net.OnCommand("STARTTLS", {"220 go ahead\r\n"});
    const bool plain = std::string_view(c.ehlo).find("PLAIN") != std::string_view::npos;
    net.OnCommand("AUTH", {plain ? "235 ok\r\n" : "334 VXNlcm5hbWU6\r\n"});
    net.OnCommand(user64, {"334 UGFzc3dvcmQ6\r\n"});
    net.OnCommand(pass64, {"235 ok\r\n"});
    if (*c.tls_failure != '\0') net.FailTls(c.tls_failure);
    mail.SetSecurity(c.security);
    mail.SetLogin("watch", "s3cret");
    mail.SetCaFile("/etc/snx/ca.pem");
    ASSERT_TRUE(mail.ResolveNameToIp("mail.example"));
    log_.Clear();
    EXPECT_EQ(mail.SendList(), c.sent);
    V commands = Commands(net);
    if (c.sent) commands.resize(std::min(commands.size(), c.commands.size()));
    EXPECT_EQ(commands, c.commands);
    EXPECT_EQ(net.connects().at(0).port, c.port);
    for (const auto& tls : net.tls_starts()) {
      EXPECT_EQ(std::tie(tls.host, tls.ca_file), std::tuple("mail.example", "/etc/snx/ca.pem"));
    }
    for (const auto& line : log_.lines()) {
      EXPECT_THAT(line.text, AllOf(Not(HasSubstr("s3cret")), Not(HasSubstr(pass64))));
    }
    if (c.security == S::kNone) {
      EXPECT_TRUE(
          log_.HasError("CWsEmail::SendList() SmtpUser is set but SmtpSecurity is none: "
                        "no login, credentials are never sent in clear."));
    }
  }
}

TEST_F(WsEmailTest, SecurityWords) {
  CWsEmail::Security s{};
  for (const char* good : {"", "none", " StartTLS ", "TLS"})
    EXPECT_TRUE(CWsEmail::ParseSecurity(good, s));
  EXPECT_EQ(s, CWsEmail::Security::kTls);
  for (const char* bad : {"ssl", "starttls1", "yes"}) EXPECT_FALSE(CWsEmail::ParseSecurity(bad, s));
}

TEST(SmtpExtensionsTest, EhloAnswers) {
  // The reply's lines, and whether STARTTLS, AUTH PLAIN and AUTH LOGIN are offered.
  const std::tuple<std::vector<std::string>, bool, bool, bool> cases[] = {
      {{"250-mx STARTTLS AUTH PLAIN", "250 SIZE 100"}, false, false, false},  // the greeting line
      {{"250-mx", "250-starttls", "250-AUTH CRAM-MD5 login", "250 HELP"}, true, false, true},
      {{"250-mx", "250-AUTH=PLAIN LOGIN", "250 8BITMIME"}, false, true, true},
      {{"250-mx", "550-STARTTLS", "250-AUTHPLAIN", "250 X AUTH PLAIN"}, false, false, false},
  };
  for (const auto& [lines, starttls, plain, login] : cases) {
    const auto ext = snx::alerts::ParseEhloReply(lines);
    EXPECT_EQ(std::tuple(ext.starttls, ext.auth_plain, ext.auth_login),
              std::tuple(starttls, plain, login))
        << lines[1];
  }
}

TEST(SmtpExtensionsTest, Base64) {
  const std::pair<std::string, std::string> pairs[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {std::string("\0watch\0s3cret", 13), "AHdhdGNoAHMzY3JldA=="}};
  for (const auto& [plain, coded] : pairs) {
    EXPECT_EQ(snx::alerts::Base64Encode(plain), coded);
    std::string back;
    EXPECT_TRUE(snx::alerts::Base64Decode(" " + coded + " ", back) && back == plain) << coded;
  }
  std::string out;
  for (const char* bad : {"Zg=", "Z===", "Zm9v=", "Zg==Zm8=", "Zm 9v", "Zm9*"}) {
    EXPECT_FALSE(snx::alerts::Base64Decode(bad, out)) << bad;
  }
}

}  // namespace

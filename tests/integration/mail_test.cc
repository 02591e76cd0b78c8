// Sending mail over real sockets: CWsEmail against small servers of our own that behave oddly,
// and against Debian's aiosmtpd with STARTTLS, TLS and a login; snxctl mail-test against
// aiosmtpd and Debian's exim4, servers this project did not write.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "alerts/ws_email.h"
#include "files/settings_file_writer.h"
#include "integration/aiosmtpd_sink.h"
#include "integration/smtp_peer.h"
#include "integration/subprocess.h"
#include "integration/test_certificates.h"
#include "platform/clock.h"
#include "platform/mail_transport.h"
#include "support/test_support.h"

namespace {

using snx::test::SmtpPeer;
using ::testing::HasSubstr;
using ::testing::Not;
using Args = std::vector<std::string>;

constexpr std::chrono::milliseconds kShortWait{400};

struct Secured {
  CWsEmail::Security security = CWsEmail::Security::kNone;
  std::string user;
  std::string password;
  std::string ca_file;
};

bool SendTo(const std::string& server, const std::vector<std::string>& to,
            std::chrono::milliseconds wait = kShortWait, const Secured& secured = {},
            std::vector<std::string>* refused = nullptr) {
  CWsEmail mail(snx::platform::DefaultFacility<snx::platform::MailTransport>(),
                snx::platform::Use<snx::platform::Clock>());
  mail.Initialize();
  mail.SetReplyWait(wait);
  mail.SetSecurity(secured.security);
  mail.SetLogin(secured.user, secured.password);
  mail.SetCaFile(secured.ca_file);
  mail.SetFrom("watch@example.org");
  mail.SetSubject("Server down");
  mail.SetBody("The server is down.");
  for (std::size_t i = 0; i < to.size(); ++i) mail.Recipients().SetAt(static_cast<int>(i), to[i]);
  const bool sent = mail.ResolveNameToIp(server) && mail.SendList();
  if (refused != nullptr) *refused = mail.RefusedRecipients();
  return sent;
}

bool SendThrough(const SmtpPeer& peer, std::chrono::milliseconds wait = kShortWait) {
  return SendTo(peer.Server(), {"a@example.org"}, wait);
}

TEST(MailOverSocketsTest, OddServers) {
  using Say = SmtpPeer::Say;
  const struct {
    const char* word;  // the line answered oddly: "" the greeting, else its first word
    Say say;
    bool sent;
  } cases[] = {
      {"", {{"554 busy\r\n"}}, false},
      {"", {{"220-peer\r\n22", "0 ready\r\n"}}, true},     // a greeting in two pieces
      {"DATA", {{"554 no valid recipients\r\n"}}, false},  // no 354
      {"HELO", {}, false},                                 // never answers
      {"Mail", {{}, true}, false},                         // closes mid-dialogue
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.word) + (c.say.pieces.empty() ? "" : c.say.pieces[0]));
    snx::test::CapturingLog log;
    SmtpPeer peer([&c](const std::string& line) {
      return line.substr(0, line.find(' ')) == c.word ? c.say : snx::test::PlainSmtpAnswer(line);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendThrough(peer), c.sent);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(peer.connections(), 1);
    EXPECT_EQ(peer.received().find("The server is down.") != std::string::npos, c.sent);
    EXPECT_TRUE(log.HasEvent("CWsEmail::SendList() sent message."));
  }
}

TEST(MailOverSocketsTest, ARefusedRecipientIsSkippedAndEveryFailureEndsWithQuit) {
  const struct {
    std::vector<std::string> to;
    bool sent;
    std::vector<std::string> refused;
  } cases[] = {
      {{"a@example.org", "nobody@example.org", "c@example.org"}, true, {"nobody@example.org"}},
      {{"nobody@example.org"}, false, {"nobody@example.org"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to.size());
    snx::test::CapturingLog log;
    SmtpPeer peer([](const std::string& line) -> SmtpPeer::Say {
      if (line.find("nobody@") != std::string::npos) return {{"550 5.1.1 no such user\r\n"}};
      return snx::test::PlainSmtpAnswer(line);
    });
    std::vector<std::string> refused;
    EXPECT_EQ(SendTo(peer.Server(), c.to, kShortWait, {}, &refused), c.sent);
    EXPECT_EQ(refused, c.refused);
    const std::string got = peer.received();
    EXPECT_EQ(got.find("DATA") != std::string::npos, c.sent);
    EXPECT_THAT(got, HasSubstr("\r\nQUIT\r\n"));
    EXPECT_TRUE(log.HasError(
        "CWsEmail::SendList() recipient refused: nobody@example.org (550 5.1.1 no such user)"));
  }
}

TEST(MailOverTlsTest, StartTlsTlsAndLoginAgainstAiosmtpd) {
  if (!std::filesystem::exists("/usr/bin/python3") ||
      !std::filesystem::exists("/usr/bin/openssl")) {
    GTEST_SKIP() << "no /usr/bin/python3 or /usr/bin/openssl";
  }
  snx::test::TempDir certs;
  ASSERT_TRUE(snx::test::MakeCertificates(certs));
  const std::string ca = certs.File("ca.pem");
  auto server = [&](const char* mode, snx::test::TempDir& spool) {
    return std::make_unique<snx::test::AiosmtpdSink>(
        spool, std::vector<std::string>{mode, certs.File("server.pem"), certs.File("server.key"),
                                        "watch", "s3cret"});
  };
  snx::test::TempDir starttls_spool, tls_spool, plain_spool;
  const auto starttls = server("starttls", starttls_spool);
  const auto tls = server("tls", tls_spool);
  const auto plain = server("plain", plain_spool);
  ASSERT_TRUE(starttls->Started() && tls->Started() && plain->Started())
      << starttls->Banner() << tls->Banner() << plain->Banner();
  auto port = [](const snx::test::AiosmtpdSink& s) {
    return s.Server().substr(s.Server().find(':'));
  };
  using S = CWsEmail::Security;
  const struct {
    const char* name;
    std::string server;
    Secured secured;
    bool sent;
    const char* logged;
  } cases[] = {
      {"starttls",
       "localhost" + port(*starttls),
       {S::kStartTls, "watch", "s3cret", ca},
       true,
       "CWsEmail::Login accepted for watch"},
      {"tls",
       "localhost" + port(*tls),
       {S::kTls, "watch", "s3cret", ca},
       true,
       "CWsEmail::StartTls TLS handshake with localhost done: TLSv1."},
      {"wrong host",
       "127.0.0.1" + port(*starttls),
       {S::kStartTls, "watch", "s3cret", ca},
       false,
       "CWsEmail::StartTls TLS handshake with 127.0.0.1 failed: certificate not trusted: "},
      {"unknown CA",
       "localhost" + port(*tls),
       {S::kTls, "watch", "s3cret", ""},
       false,
       "CWsEmail::StartTls TLS handshake with localhost failed: certificate not trusted: "},
      {"wrong password",
       "localhost" + port(*starttls),
       {S::kStartTls, "watch", "guess", ca},
       false,
       "CWsEmail::Login refused for watch: 535 "},
      {"no STARTTLS",
       "localhost" + port(*plain),
       {S::kStartTls, "watch", "s3cret", ca},
       false,
       "CWsEmail::StartTls the server does not offer STARTTLS; the mail is not sent in clear."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    snx::test::CapturingLog log;
    EXPECT_EQ(SendTo(c.server, {"a@example.org"}, std::chrono::seconds(10), c.secured), c.sent);
    std::string all;
    for (const auto& line : log.lines()) all += line.text + "\n";
    EXPECT_THAT(all, HasSubstr(c.logged));
    EXPECT_THAT(all, Not(HasSubstr("s3cret")));
  }
  EXPECT_THAT(starttls_spool.Read("msg-1.eml"), HasSubstr("The server is down."));
  EXPECT_THAT(tls_spool.Read("msg-1.eml"), HasSubstr("The server is down."));
  EXPECT_FALSE(std::filesystem::exists(starttls_spool.File("msg-2.eml")));
  EXPECT_FALSE(std::filesystem::exists(plain_spool.File("msg-1.eml")));
}

class SnxctlMailTest : public ::testing::Test {
 protected:
  void WriteSettings(const std::string& server, const std::vector<std::string>& addresses) {
    std::vector<std::string> lines = {
        "[KEYS]",
        "SmtpServer=" + server,
        "EmailFrom=watch@example.org",
        "EmailSubject=Server up again",
        "EmailSubjectDn=Server down: web shop",
        "EmailBodyUp=.",
        "EmailBodyDown=The web shop stopped answering; restarting it.",
        "EmailUrl=http://127.0.0.1:1/",
        "EmailEnabled=1",
        "[EMAILS]"};
    lines.insert(lines.end(), addresses.begin(), addresses.end());
    snx::test::WriteSettings(install_, lines);
  }
  snx::test::Run MailTest(Args args) {
    args.insert(args.begin(), {"mail-test", "--dir", install_.path()});
    return snx::test::Snxctl(args);
  }

  snx::test::TempDir install_;
};

TEST_F(SnxctlMailTest, DeliversTheAlertToTheFirst32AddressesThroughAiosmtpd) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  snx::test::TempDir spool;
  snx::test::AiosmtpdSink sink(spool);
  ASSERT_TRUE(sink.Started()) << "aiosmtpd did not start: " << sink.Banner();
  std::vector<std::string> addresses;
  for (int i = 0; i < 34; ++i) addresses.push_back("user" + std::to_string(i) + "@example.org");
  WriteSettings(sink.Server(), addresses);

  const auto down = MailTest({"--down"});
  EXPECT_EQ(down.exit_code, 0) << down.out;
  EXPECT_THAT(down.out, HasSubstr("(event): 354 "));
  const auto up = MailTest({"--up"});
  EXPECT_EQ(up.exit_code, 0) << up.out;

  std::string rcpts;
  for (int i = 0; i < 32; ++i) rcpts += "RCPT user" + std::to_string(i) + "@example.org\n";
  const std::string first = spool.Read("msg-1.eml");
  EXPECT_EQ(first.substr(0, rcpts.size() + 1), rcpts + "\n");
  EXPECT_THAT(first, HasSubstr("\r\nSubject: Server down: web shop\r\n\r\n"
                               "The web shop stopped answering; restarting it.\r\n"));
  EXPECT_THAT(first, HasSubstr("\r\nTo: user0@example.org , user1@example.org , "));
  const std::string second = spool.Read("msg-2.eml");
  EXPECT_THAT(second, HasSubstr("\r\nSubject: Server up again\r\n\r\n.\r\n"));  // the "." whole
  EXPECT_FALSE(std::filesystem::exists(spool.File("msg-3.eml")));
}

TEST_F(SnxctlMailTest, SendsNothingWithoutRecipients) {
  SmtpPeer peer(snx::test::PlainSmtpAnswer);
  WriteSettings(peer.Server(), {});
  const auto none = MailTest({"--remote", "http://far.example/"});
  EXPECT_EQ(none.exit_code, 1) << none.out;
  EXPECT_THAT(none.out, HasSubstr("Error: CEmailer::ValidateSettings() failed."));
  EXPECT_EQ(peer.connections(), 0);
}

TEST_F(SnxctlMailTest, UsageAndMissingSettings) {
  for (const Args& bad : {Args{"--bogus"}, Args{"--up", "--down"}, Args{"--remote"},
                          Args{"--wait", "0"}, Args{"--dir"}}) {
    EXPECT_EQ(MailTest(bad).exit_code, 2);
  }
  const auto missing = MailTest({"--down"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_THAT(missing.out, HasSubstr("no settings file at "));
  EXPECT_FALSE(std::filesystem::exists(install_.File("AutoSet.caf")));
}

}  // namespace

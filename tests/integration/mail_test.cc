// Sending mail over real sockets: CWsEmail against small servers of our own that behave oddly,
// and snxctl mail-test against Debian's aiosmtpd, a server this project did not write.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "alerts/ws_email.h"
#include "files/settings_file_writer.h"
#include "integration/aiosmtpd_sink.h"
#include "integration/smtp_peer.h"
#include "integration/subprocess.h"
#include "platform/clock.h"
#include "platform/mail_transport.h"
#include "support/test_support.h"

namespace {

using snx::test::SmtpPeer;
using ::testing::HasSubstr;
using ::testing::Not;
using Args = std::vector<std::string>;

constexpr std::chrono::milliseconds kShortWait{400};

bool SendThrough(const SmtpPeer& peer, std::chrono::milliseconds wait = kShortWait) {
  CWsEmail mail(snx::platform::DefaultFacility<snx::platform::MailTransport>(),
                snx::platform::Use<snx::platform::Clock>());
  mail.Initialize();
  mail.SetReplyWait(wait);
  mail.SetFrom("watch@example.org");
  mail.SetSubject("Server down");
  mail.SetBody("The server is down.");
  mail.Recipients().SetAt(0, "a@example.org");
  return mail.ResolveNameToIp(peer.Server()) && mail.SendList();
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

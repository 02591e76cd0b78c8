// The alert channels over real sockets. Mail: CWsEmail against small servers of our own that
// behave oddly, and against Debian's aiosmtpd with STARTTLS, TLS and a login; snxctl mail-test
// against aiosmtpd and Debian's exim4, servers this project did not write. Webhooks: a receiver
// that hangs is given up at the bound, and snxctl notify-test says what each channel answered.

#include "alerts/webhook.h"
#include "alerts/ws_email.h"
#include "integration/service_rig.h"
#include "integration/smtp_peer.h"
#include "integration/webhook_receiver.h"
#include "platform/clock.h"
#include "platform/http_client.h"
#include "platform/mail_transport.h"
#include "support/tls_peer.h"

namespace snx::test {
namespace {

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
  CWsEmail mail(platform::DefaultFacility<platform::MailTransport>(),
                platform::Use<platform::Clock>());
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
    SmtpPeer peer([&c](const std::string& line) {
      return line.substr(0, line.find(' ')) == c.word ? c.say : PlainSmtpAnswer(line);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendTo(peer.Server(), {"a@example.org"}), c.sent);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(peer.connections(), 1);
    EXPECT_EQ(peer.received().find("The server is down.") != std::string::npos, c.sent);
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
    CapturingLog log;
    SmtpPeer peer([](const std::string& line) -> SmtpPeer::Say {
      if (line.find("nobody@") != std::string::npos) return {{"550 5.1.1 no such user\r\n"}};
      return PlainSmtpAnswer(line);
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
  const std::string certs = TlsCertificates();
  ASSERT_FALSE(certs.empty());
  const std::string ca = TlsPeer::CaFile();
  auto server = [&](const char* mode, const char* certificate = "valid") {
    return std::make_unique<AiosmtpdSink>(Args{mode, certs + "/" + certificate + ".pem",
                                               certs + "/" + certificate + ".key", "watch",
                                               "s3cret"});
  };
  const auto starttls = server("starttls"), tls = server("tls"),
             wronghost = server("starttls", "wronghost");
  ASSERT_TRUE(starttls->Started() && tls->Started() && wronghost->Started());
  auto at = [](const std::unique_ptr<AiosmtpdSink>& s) { return "localhost:" + s->Port(); };
  using S = CWsEmail::Security;
  const std::string untrusted =
      "CWsEmail::StartTls TLS handshake with localhost failed: certificate not trusted: ";
  const struct {
    std::string server;
    S security;
    const char* password;
    std::string ca;
    bool sent;
    std::string logged;
  } cases[] = {
      {at(tls), S::kTls, "s3cret", ca, true,
       "CWsEmail::StartTls TLS handshake with localhost done: TLSv1."},
      {at(wronghost), S::kStartTls, "s3cret", ca, false, untrusted},
      {at(tls), S::kTls, "s3cret", "", false, untrusted},  // the CA unknown
      {at(starttls), S::kStartTls, "guess", ca, false, "CWsEmail::Login refused for watch: 535 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server + " " + c.password + " " + c.ca);
    CapturingLog log;
    const Secured secured{c.security, "watch", c.password, c.ca};
    EXPECT_EQ(SendTo(c.server, {"a@example.org"}, std::chrono::seconds(10), secured), c.sent);
    std::string all;
    for (const auto& line : log.lines()) all += line.text + "\n";
    EXPECT_THAT(all, HasSubstr(c.logged));
    EXPECT_THAT(all, Not(HasSubstr("s3cret")));
  }
  EXPECT_THAT(tls->Message(1), HasSubstr("The server is down."));
  EXPECT_EQ(starttls->Message(1) + wronghost->Message(1), "");
}

CtlRun MailTest(const TempDir& install, const Args& args) {
  return SnxctlIn("mail-test", install, args);
}

TEST(SnxctlMailTest, DeliversTheAlertThroughAiosmtpd) {
  AiosmtpdSink sink;
  ASSERT_TRUE(sink.Started());
  TempDir install;
  EXPECT_TRUE(Ran(MailTest(install, {"--down"}), 1, {"no settings file at "}));
  EXPECT_FALSE(fs::exists(install.File("AutoSet.caf")));

  WriteSettings(install, Concat(Args{"[KEYS]"}, EmailKeys(sink.Server()),
                                Args{"[EMAILS]", "user0@example.org", "user1@example.org"}));
  EXPECT_TRUE(Ran(MailTest(install, {"--down"}), 0, {"(event): 354 "}));
  EXPECT_TRUE(Ran(MailTest(install, {"--up"}), 0));
  const std::string first = sink.Message(1);
  EXPECT_EQ(first.rfind("RCPT user0@example.org\nRCPT user1@example.org\n\n", 0), 0u) << first;
  EXPECT_TRUE(HasAll(first, {"\r\nSubject: Site down: web shop\r\n\r\nGone; restarting it.\r\n",
                             "\r\nTo: user0@example.org , user1@example.org"}));
  EXPECT_THAT(sink.Message(2), HasSubstr("\r\nSubject: Site up\r\n\r\n.\r\n"));  // the "." whole
  EXPECT_EQ(sink.Message(3), "");
}

// Exim's configuration with its files in `dir`.
std::string EximConfig(const std::string& dir) {
  std::string text = Text(PeerFile("exim.conf"));
  for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + dir.size())) {
    text.replace(at, 1, dir);
  }
  return text;
}

// snxctl mail-test through Debian's exim4, a real mail server, started on a loopback port with a
// configuration of its own in a temporary folder (its spool, logs and root's mailbox are there
// too; the machine's own mail setup is left alone). One address it does not know stands beside
// root's: root gets the alert, and exim's log shows the dialogue ended properly.
TEST(EximMailTest, RootGetsTheAlertBesideARefusedAddressAndTheDialogueEndsWithQuit) {
  constexpr const char* kExim = "/usr/sbin/exim4";
  ASSERT_TRUE(fs::exists(kExim)) << "exim4-daemon-light is installed by scripts/install-deps";
  if (::geteuid() != 0) GTEST_SKIP() << "exim4 takes a configuration of its own only from root";
  TempDir exim;
  fs::permissions(exim.path(), fs::perms::all);  // for Debian-exim
  exim.Write("exim.conf", EximConfig(exim.path()));
  const std::uint16_t port = FreePort();
  Child daemon({kExim, "-C", exim.File("exim.conf"), "-bdf", "-oX", std::to_string(port)}, true);
  const auto log = [&] { return Text(exim.File("mainlog")); };
  ASSERT_TRUE(Eventually([&] { return log().find("listening for SMTP") != std::string::npos; }))
      << daemon.Output() << log();

  TempDir install;
  WriteSettings(install, Concat(Args{"[KEYS]"}, EmailKeys("127.0.0.1:" + std::to_string(port)),
                                Args{"[EMAILS]", "nobody@localhost", "root@localhost"}));
  EXPECT_TRUE(
      Ran(MailTest(install, {"--wait", "10"}), 0, {"sent: yes\nrefused: nobody@localhost\n"}));
  const auto mailbox = [&] { return Text(exim.File("root.mbox")); };
  EXPECT_TRUE(Eventually([&] { return mailbox().find("Gone;") != std::string::npos; }));
  EXPECT_TRUE(HasAll(mailbox(), {"\nSubject: Site down: web shop\n", "\nGone; restarting it.\n"}));
  EXPECT_TRUE(HasAll(log(), {"rejected RCPT <nobody@localhost>", "=> root <root@localhost>"}));
  for (const char* complaint :
       {"unexpected disconnection", "SMTP protocol", "synchronization error", "connection lost",
        "lost while", "command timeout", "dropped"}) {
    EXPECT_THAT(log(), Not(HasSubstr(complaint)));
  }
}

TEST(WebhookPost, AReceiverThatHangsIsGivenUpAtTheBound) {
  WebhookReceiver hooks;
  ASSERT_TRUE(hooks.Started());
  alerts::AlertEvent event;
  event.machine = "WEB1";
  const auto started = std::chrono::steady_clock::now();
  const alerts::WebhookOutcome outcome = alerts::PostWebhook(
      platform::Use<platform::HttpClient>(), {settings::WebhookFormat::kJson, hooks.Url("/hang")},
      event, std::chrono::milliseconds(500));
  EXPECT_FALSE(outcome.ok);
  EXPECT_THAT(outcome.answer, HasSubstr("no answer: "));
  // Far below the receiver's minute: the bound ended the wait.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  ASSERT_TRUE(Eventually([&] { return hooks.Posts().size() == 1; }));
  EXPECT_EQ(hooks.Posts()[0].value("body", ""), alerts::EventJson(event));
}

TEST(NotifyTest, EveryChannelIsTriedAndItsAnswerShown) {
  WebhookReceiver hooks;
  ASSERT_TRUE(hooks.Started());
  TempDir install;
  WriteSettings(install, {"[KEYS]", "MachineName=WEB1", "EmailEnabled=0", "[WEBHOOKS]",
                          "ntfy " + hooks.Url("/ntfy"), hooks.Url("/json")});
  EXPECT_TRUE(
      Ran(Snxctl({"notify-test", "--dir", install.path(), "--up"}), 0,
          {"email: off (EmailEnabled)\n", "webhook ntfy " + hooks.Url("/ntfy") + ": HTTP 200\n",
           "webhook json " + hooks.Url("/json") + ": HTTP 200\n"}));
  const auto posts = hooks.Posts();
  ASSERT_EQ(posts.size(), 2u);
  const auto& ntfy = posts[0]["headers"];
  EXPECT_EQ(ntfy.value("Tags", ""), "white_check_mark");
  EXPECT_THAT(posts[0].value("body", ""), HasSubstr("snxctl notify-test"));
  EXPECT_EQ(hooks.Count("/json", "\"event\":\"up\""), 1);

  WriteSettings(install, {"[KEYS]", "MachineName=WEB1", "EmailEnabled=0", "[WEBHOOKS]",
                          "slack " + hooks.Url("/fail"), "teams http://x.example/"});
  EXPECT_TRUE(Ran(Snxctl({"notify-test", "--dir", install.path()}), 1,
                  {"webhook slack " + hooks.Url("/fail") + ": HTTP 500\n",
                   "webhook teams http://x.example/: \"teams\" is not a webhook"}));
  EXPECT_EQ(hooks.Count("/fail", "WEB1: the server is down"), 1);

  EXPECT_EQ(Snxctl({"notify-test", "--dir", install.File("none")}).exit_code, 1);
}

}  // namespace
}  // namespace snx::test

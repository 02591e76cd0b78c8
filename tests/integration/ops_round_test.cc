// The watchdog end to end with real peers: a web site (a program of its own name, started
// and killed through the real launcher), Debian's aiosmtpd for the e-mail alerts, the
// recording dial command for the phone alerts, the real watcher companion, the recording power
// facility, and minutes of one second. The site is killed; the watchdog must report it down,
// restart it, and report it up again.

#include "integration/service_rig.h"
#include "integration/webhook_receiver.h"
#include "platform/power.h"
#include "support/tls_peer.h"

namespace snx::test {
namespace {

// The pids of the processes running `program` (ours: this test or its launcher started them).
std::vector<int> PidsOf(const std::string& program) {
  std::vector<int> pids;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ec;
    if (fs::read_symlink(entry.path() / "exe", ec).string() == program)
      pids.push_back(std::stoi(name));
  }
  return pids;
}

TEST(OpsRound, ASiteThatDiesIsReportedRestartedAndReportedBack) {
  // The mail goes through a relay that wants STARTTLS and a login, as most relays do today.
  const std::string certs = TlsCertificates();
  ASSERT_FALSE(certs.empty());
  AiosmtpdSink sink({"starttls", certs + "/valid.pem", certs + "/valid.key", "watch", "s3cret"});
  ASSERT_TRUE(sink.Started());
  WebhookReceiver hooks;
  ASSERT_TRUE(hooks.Started());

  ServiceRig rig;
  const TempDir& install = rig.install;
  ScopedEnv dial_env("VOICE_DIAL_RECORD", install.File("calls.txt").c_str());
  ScopedEnv metrics_env("SNX_METRICS_FILE", rig.root.File("snxsvc.prom").c_str());
  rig.Copy("snxsvc");
  ASSERT_TRUE(rig.InstallService());
  CopyProgram(install, std::string(SNX_SOURCE_DIR) + "/examples/voice-dial.record", "voice-dial");
  rig.ResetStub();
  rig.RestartProgram("MaxWait=60\n");

  // The site: python's own web server under a name of its own, on a free port.
  const std::string site = CopyProgram(install, "/usr/bin/python3", UniqueStem("snxsite"));
  const std::uint16_t port = FreePort();
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
  const Args site_run = {site, "-m", "http.server", "--bind", "127.0.0.1", std::to_string(port)};
  WriteSettings(
      install,
      Concat(Args{"[KEYS]", "AdminId=admin", "Password=secret", "MachineName=TESTHOST",
                  "MinuteInterval=2", "RstrSecs=20", "RestartsB4Reboot=3", "WATCH=0", "LogEvents=1",
                  "SmtpSecurity=starttls", "SmtpUser=watch", "SmtpPassword=s3cret",
                  "CaFile=" + TlsPeer::CaFile(), "PNum1=5551234", "PName1=Ops", "PE1=1",
                  "MsgDown=The site is down.", "MsgUp=The site is up."},
             EmailKeys("localhost:" + sink.Port()),
             Args{"[EMAILS]", "ops@example.org", "[URLS]", url, "[PROGS]",
                  site + " -m http.server --bind 127.0.0.1 " + std::to_string(port), "[STOPS]",
                  site, "[WEBHOOKS]", hooks.Url("/ok"), "slack " + hooks.Url("/fail")}));

  auto first = std::make_unique<Child>(site_run);
  ASSERT_TRUE(Eventually([&] { return !PidsOf(site).empty(); }));
  auto service = rig.StartAnswering();
  ASSERT_EQ(Snxctl({"go"}).exit_code, 0);

  // A good first cycle writes the heartbeat; then the site dies.
  EXPECT_TRUE(
      Eventually([&] { return fs::exists(install.File("Beat.txt")); }, std::chrono::seconds(30)));
  first.reset();  // killed and reaped
  EXPECT_TRUE(Eventually([&] { return CountOf(sink.Spooled(), "Subject: Site down") > 0; },
                         std::chrono::seconds(30)));
  EXPECT_TRUE(Eventually([&] { return CountOf(sink.Spooled(), "Subject: Site up") > 0; },
                         std::chrono::seconds(60)));
  // The webhooks are posted once the cycle has done what it decided.
  EXPECT_TRUE(Eventually([&] { return hooks.Count("/ok", "\"event\":\"up\"") == 1; },
                         std::chrono::seconds(30)));
  EXPECT_EQ(service->Terminate(std::chrono::seconds(60)), 0) << service->Output();
  // The mails say what happened below the administrator's text (the rest of the text is the
  // mail's own tests' business).
  std::string mails = sink.Spooled();
  std::erase(mails, '\r');
  EXPECT_TRUE(HasAll(mails, {"\n\nGone; restarting it.\n\n-- TESTHOST: the server is down\n",
                             "local_url " + url + ": down", "restart 1 of 3",
                             "-- TESTHOST: the server is up again\n"}));
  // The webhooks: down and up once each; the one that answers 500 is tried once more (the log
  // below says so).
  EXPECT_EQ(hooks.Count("/ok", "\"event\":\"down\""), 1);
  EXPECT_EQ(hooks.Count("/ok", "\"name\":\"" + url + "\",\"state\":\"down\""), 1);
  const std::vector<int> restarted = PidsOf(site);
  for (int pid : restarted) KillChild(pid);
  EXPECT_EQ(restarted.size(), 1u);  // the watchdog started the site again
  EXPECT_THAT(Text(install.File("resets.txt")), HasSubstr("ran"));
  const std::string service_log = rig.Log();
  const std::string slack = "Webhook slack " + hooks.Url("/fail") + " (down): HTTP 500; ";
  EXPECT_TRUE(HasAll(service_log, {"CWsEmail::Login accepted for watch",
                                   slack + "tried again at the next cycle.", slack + "given up."}));
  EXPECT_THAT(service_log, Not(HasSubstr("s3cret")));
  EXPECT_TRUE(HasAll(install.Read("calls.txt"), {"The site is down.", "The site is up."}));
  EXPECT_FALSE(fs::exists(platform::RebootRequestsPath()));  // restarts, no reboot
  // The webhook figures of the round (the others are the operations tests' business), as the
  // node exporter would read them.
  EXPECT_THAT(rig.root.Read("snxsvc.prom"),
              HasSubstr("snxsvc_webhook_posts_total{format=\"json\",result=\"ok\"} 2\n"));
  EXPECT_EQ(PromtoolComplaint(rig.root.File("snxsvc.prom")).value_or(""), "");
}

}  // namespace
}  // namespace snx::test

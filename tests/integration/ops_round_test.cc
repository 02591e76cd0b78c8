// The watchdog end to end with real peers: a web site (a program of its own name, started
// and killed through the real launcher), Debian's aiosmtpd for the e-mail alerts, the
// recording dial command for the phone alerts, the real watcher companion, the recording power
// facility, and minutes of one second. The site is killed; the watchdog must report it down,
// restart it, and report it up again.

#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "components/component_factory.h"
#include "files/all_sets.h"
#include "files/log_file.h"
#include "files/ram_file_ro.h"
#include "files/settings_file_writer.h"
#include "integration/aiosmtpd_sink.h"
#include "integration/subprocess.h"
#include "integration/test_certificates.h"
#include "integration/webhook_receiver.h"
#include "platform/power.h"
#include "service/service_wiring.h"
#include "service/thread_owner.h"
#include "support/child_programs.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

namespace snx::test {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

constexpr const char* kSiteScript = R"(import http.server, sys
class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"ok")
    def log_message(self, *args):
        pass
http.server.HTTPServer.allow_reuse_address = True
http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Page).serve_forever()
)";

std::string BinFolder() {
  const char* dir = std::getenv("SNX_TEST_BIN_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/bin/";
}

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

std::string Spooled(const TempDir& spool) {
  std::string all;
  for (int i = 1; fs::exists(spool.File("msg-" + std::to_string(i) + ".eml")); ++i) {
    all += spool.Read("msg-" + std::to_string(i) + ".eml");
  }
  return all;
}

TEST(OpsRound, ASiteThatDiesIsReportedRestartedAndReportedBack) {
  // The mail goes through a relay that wants STARTTLS and a login, as most relays do today.
  TempDir certs;
  ASSERT_TRUE(snx::test::MakeCertificates(certs));
  TempDir spool;
  AiosmtpdSink sink(
      spool, {"starttls", certs.File("server.pem"), certs.File("server.key"), "watch", "s3cret"});
  if (!sink.Started()) GTEST_SKIP() << "aiosmtpd is not available: " << sink.Banner();
  const std::string relay = "localhost" + sink.Server().substr(sink.Server().find(':'));

  WebhookReceiver hooks;
  ASSERT_TRUE(hooks.Started());

  TempDir install;
  TempDir root;
  const std::string folder = install.path() + "/";
  ScopedEnv root_env("SNX_ROOT", root.path().c_str());
  ScopedEnv power_env("SNX_POWER", "record");
  ScopedEnv minute_env("SNX_MINUTE_SECONDS", "1");
  ScopedEnv dial_env("VOICE_DIAL_RECORD", install.File("calls.txt").c_str());
  ScopedEnv metrics_env("SNX_METRICS_FILE", root.File("snxsvc.prom").c_str());

  // The install folder: the plug-ins, the dial command, a web-server reset that records.
  for (const char* dll :
       {"QorPerf.dll", "QorPulse.dll", "SnxReport.dll", "QorVoiceAlert.dll", "QorAssure.dll"}) {
    fs::copy_file(BinFolder() + dll, install.File(dll));
  }
  fs::copy_file(std::string(SNX_SOURCE_DIR) + "/examples/voice-dial.record",
                install.File("voice-dial"));
  ::chmod(install.File("voice-dial").c_str(), 0755);
  install.Write("iisreset", "#!/bin/sh\necho reset >> \"$(dirname \"$0\")/resets.txt\"\n");
  ::chmod(install.File("iisreset").c_str(), 0755);
  install.Write("Sentinex.ini", "MaxWait=60\n");
  ::chmod(install.File("Sentinex.ini").c_str(), 0600);
  for (const char* dll : {"QorPerf.dll", "QorVoiceAlert.dll", "QorAssure.dll"}) {
    std::string why;
    ASSERT_EQ(
        platform::Use<platform::ComponentFactory>().RegisterServer(install.File(dll), false, &why),
        platform::S_OK)
        << why;
  }

  // The site: python under a name of its own, on a free port.
  const std::string site = CopyProgram(install, "/usr/bin/python3", UniqueStem("snxsite"));
  install.Write("site.py", kSiteScript);
  std::uint16_t port = 0;
  ::close(ListenOnLoopback(port));
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
  const std::string start_line =
      site + " -u " + install.File("site.py") + " " + std::to_string(port);

  WriteSettings(install, {"[KEYS]",
                          "AdminId=admin",
                          "Password=secret",
                          "MachineName=TESTHOST",
                          "MinuteInterval=2",
                          "RstrSecs=20",
                          "RestartsB4Reboot=3",
                          "WATCH=0",
                          "EmailEnabled=1",
                          "SmtpServer=" + relay,
                          "SmtpSecurity=starttls",
                          "SmtpUser=watch",
                          "SmtpPassword=s3cret",
                          "CaFile=" + certs.File("ca.pem"),
                          "EmailFrom=watch@example.org",
                          "EmailSubject=Site up",
                          "EmailSubjectDn=Site down",
                          "EmailBodyUp=Back.",
                          "EmailBodyDown=Gone.",
                          "EmailUrl=http://127.0.0.1:1/",
                          "PNum1=5551234",
                          "PName1=Ops",
                          "PE1=1",
                          "MsgDown=The site is down.",
                          "MsgUp=The site is up.",
                          "[EMAILS]",
                          "ops@example.org",
                          "[URLS]",
                          url,
                          "[PROGS]",
                          start_line,
                          "[STOPS]",
                          site,
                          "[WEBHOOKS]",
                          hooks.Url("/ok"),
                          "slack " + hooks.Url("/fail")});

  // The service's own log, as the command object keeps it.
  CLogFile log;
  log.SetDirectory(folder);
  ASSERT_TRUE(log.Open("SNXSVC"));
  CLogWriter* previous = g_pLogFile;
  g_pLogFile = &log;

  CRamFileRO image;
  CAllSets settings;
  ASSERT_TRUE(image.Initialize(folder, CAllSets::kSettingsFileName));
  settings.SetProgramDirectory(folder);
  settings.SetSettingsImage(&image);
  ASSERT_TRUE(settings.ReInitialize());

  auto first = std::make_unique<Child>(
      std::vector<std::string>{site, "-u", install.File("site.py"), std::to_string(port)});
  ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return !PidsOf(site).empty(); }));

  CServiceWiring wiring(folder);
  {
    CThreadOwner owner(wiring.Facilities());
    owner.SetSettings(&settings);
    owner.SetProgramDirectory(folder);
    ASSERT_TRUE(owner.StartThreads());
    owner.m_bTest = false;
    owner.m_bGo = true;
    owner.SetPendingCommand(SNX_GO);
    owner.FireCommandEvent();

    // A good first cycle writes the heartbeat; then the site dies.
    EXPECT_TRUE(
        Within(std::chrono::seconds(30), [&] { return fs::exists(install.File("Beat.txt")); }));
    first.reset();  // killed and reaped
    EXPECT_TRUE(Within(std::chrono::seconds(30), [&] {
      return Spooled(spool).find("Subject: Site down") != std::string::npos;
    }));
    EXPECT_TRUE(Within(std::chrono::seconds(60), [&] {
      return Spooled(spool).find("Subject: Site up") != std::string::npos;
    }));
    // The webhooks are posted once the cycle has done what it decided.
    EXPECT_TRUE(Within(std::chrono::seconds(30),
                       [&] { return hooks.Count("/ok", "\"event\":\"up\"") == 1; }));
    EXPECT_TRUE(owner.KillAllThreads());
  }
  // The mails say what happened below the administrator's text.
  std::string mails = Spooled(spool);
  std::erase(mails, '\r');
  for (const std::string& text :
       {std::string("\n\nGone.\n\n-- TESTHOST: the server is down\n"),
        std::string("Machine: TESTHOST\n"), "local_url " + url + ": down",
        std::string("restart 1 of 3"), std::string("-- TESTHOST: the server is up again\n"),
        std::string("Outage lasted: "), std::string("Content-Type: text/plain; charset=UTF-8\n")}) {
    EXPECT_THAT(mails, HasSubstr(text));
  }
  // The webhooks: down and up once each; the one that answers 500 is tried once more.
  EXPECT_EQ(hooks.Count("/ok", "\"event\":\"down\""), 1);
  EXPECT_EQ(hooks.Count("/ok", "\"machine\":\"TESTHOST\""), 2);
  EXPECT_EQ(hooks.Count("/ok", "\"name\":\"" + url + "\",\"state\":\"down\""), 1);
  EXPECT_EQ(hooks.Count("/fail", "TESTHOST: the server is down"), 2);
  EXPECT_THAT(mails, ::testing::ContainsRegex("Time: 20[0-9-]+T[0-9:]+[+-][0-9]{2}:[0-9]{2}\n"));
  g_pLogFile = previous;
  const std::vector<int> restarted = PidsOf(site);
  for (int pid : restarted) KillChild(pid);

  EXPECT_EQ(restarted.size(), 1u);  // the watchdog started the site again
  EXPECT_THAT(install.Read("resets.txt"), HasSubstr("reset"));
  const std::string service_log = install.Read("SNXSVC.log");
  EXPECT_THAT(service_log, HasSubstr("FAILURE DETECTED. Attempting RESTART........"));
  EXPECT_THAT(service_log, HasSubstr("** Soft Restart completed"));
  EXPECT_THAT(service_log, HasSubstr("CWsEmail::Login accepted for watch"));
  EXPECT_THAT(service_log, ::testing::Not(HasSubstr("s3cret")));
  EXPECT_THAT(service_log, HasSubstr("Webhook slack " + hooks.Url("/fail") +
                                     " (down): HTTP 500; tried again at the next cycle."));
  EXPECT_THAT(service_log,
              HasSubstr("Webhook slack " + hooks.Url("/fail") + " (down): HTTP 500; given up."));
  const std::string uptime = install.Read("Uptime.log");
  EXPECT_THAT(uptime, HasSubstr("101, " + url + ", DN"));
  EXPECT_THAT(uptime, HasSubstr("101, " + url + ", UP"));
  const std::string calls = install.Read("calls.txt");
  EXPECT_THAT(calls, HasSubstr("The site is down."));
  EXPECT_THAT(calls, HasSubstr("The site is up."));
  EXPECT_FALSE(fs::exists(platform::RebootRequestsPath()));  // restarts, no reboot
  // The figures of the round, as the node exporter would read them.
  const std::string figures = root.Read("snxsvc.prom");
  for (const std::string& sample :
       {"snxsvc_item_up{type=\"local_url\",name=\"" + url + "\"} 1\n",
        std::string("snxsvc_restarts_total 1\n"),
        std::string("snxsvc_alerts_sent_total{channel=\"email\",event=\"server_down\"} 1\n"),
        std::string("snxsvc_alerts_sent_total{channel=\"phone\",event=\"server_up\"} 1\n"),
        std::string("snxsvc_webhook_posts_total{format=\"json\",result=\"ok\"} 2\n")}) {
    EXPECT_THAT(figures, HasSubstr(sample));
  }
  EXPECT_EQ(PromtoolComplaint(root.File("snxsvc.prom")).value_or(""), "");
}

}  // namespace
}  // namespace snx::test

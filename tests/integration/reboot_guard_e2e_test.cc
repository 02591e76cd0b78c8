// The reboot storm guard with the real service: snxsvc -Foreground over a temporary state root,
// the recording power facility, minutes of one second, aiosmtpd for the mails and a site that
// stays down, with MaxRebootsPerDay=1.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "components/component_factory.h"
#include "files/settings_file_writer.h"
#include "integration/aiosmtpd_sink.h"
#include "integration/subprocess.h"
#include "platform/power.h"
#include "support/loopback_http_server.h"

namespace snx::test {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

std::string Text(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
int CountOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}
// Stops the service as systemd does; its exit code.
int Terminate(Child& service) {
  ::kill(service.pid(), SIGTERM);
  return service.Wait(std::chrono::seconds(60));
}

TEST(RebootGuardEndToEnd, TheServiceRebootsOnceThenWithholdsTheNextRebootWithItsMail) {
  TempDir spool;
  AiosmtpdSink sink(spool);
  if (!sink.Started()) GTEST_SKIP() << "aiosmtpd is not available: " << sink.Banner();
  TempDir install;
  TempDir root;
  ScopedEnv root_env("SNX_ROOT", root.path().c_str());
  ScopedEnv power_env("SNX_POWER", "record");
  ScopedEnv minute_env("SNX_MINUTE_SECONDS", "1");

  // The service and its plug-ins (registered by "-Service", which also writes the unit a reboot
  // needs to set the AutoRun mark), and a web-server reset that does nothing.
  const char* bin = std::getenv("SNX_TEST_BIN_DIR");
  const std::string built = std::string(bin != nullptr ? bin : ".") + "/bin/";
  for (const char* file : {"snxsvc", "QorPerf.dll", "QorPulse.dll", "SnxReport.dll",
                           "QorVoiceAlert.dll", "QorAssure.dll"})
    fs::copy_file(built + file, install.File(file));
  install.Write("iisreset", "#!/bin/sh\nexit 0\n");
  ::chmod(install.File("iisreset").c_str(), 0755);
  install.Write("Sentinex.ini", "MaxWait=30\n");
  ::chmod(install.File("Sentinex.ini").c_str(), 0600);
  {
    Child registered({install.File("snxsvc"), "-Service"}, true);
    ASSERT_EQ(registered.Wait(std::chrono::seconds(20)), 0) << registered.Output();
  }
  std::uint16_t port = 0;
  ::close(ListenOnLoopback(port));  // nothing listens there: the site stays down
  WriteSettings(install, {"[KEYS]",
                          "AdminId=admin",
                          "Password=secret",
                          "MachineName=TESTHOST",
                          "MinuteInterval=1",
                          "RstrSecs=1",
                          "RestartsB4Reboot=1",
                          "MaxRebootsPerDay=1",
                          "WATCH=0",
                          "EmailEnabled=1",
                          "SmtpServer=" + sink.Server(),
                          "EmailFrom=watch@example.org",
                          "EmailSubject=Site up",
                          "EmailSubjectDn=Site down",
                          "EmailBodyUp=Back.",
                          "EmailBodyDown=Gone.",
                          "EmailUrl=http://127.0.0.1:1/",
                          "[EMAILS]",
                          "ops@example.org",
                          "[URLS]",
                          "http://127.0.0.1:" + std::to_string(port) + "/"});
  const std::string requests = platform::RebootRequestsPath();
  const std::string log = install.File("SNXSVC.log");
  const auto down_mails = [&] {
    std::string all;
    for (int i = 1; fs::exists(spool.File("msg-" + std::to_string(i) + ".eml")); ++i) {
      all += spool.Read("msg-" + std::to_string(i) + ".eml");
    }
    return CountOf(all, "Subject: Site down");
  };

  {  // First boot, Go by command: the first failure restarts, the second reboots.
    Child service({install.File("snxsvc"), "-Foreground"}, true);
    ASSERT_TRUE(Within(std::chrono::seconds(30), [] { return Snxctl({"state"}).exit_code == 0; }));
    ASSERT_EQ(Snxctl({"go"}).exit_code, 0);
    ASSERT_TRUE(Within(std::chrono::seconds(60), [&] { return fs::exists(requests); }))
        << Text(log);
    EXPECT_TRUE(Within(std::chrono::seconds(10), [] {
      return Snxctl({"state"}).out.find("Go loop running") == std::string::npos;
    }));
    EXPECT_THAT(Snxctl({"state"}).out,
                HasSubstr("automatic reboots in the last 24 hours: 1 (MaxRebootsPerDay 1)"));
    EXPECT_EQ(Terminate(service), 0) << service.Output();
  }
  EXPECT_EQ(CountOf(Text(root.File("var/lib/snxsvc/reboot-record")), "\n"), 2);  // header, one
  EXPECT_EQ(down_mails(), 1);

  {  // Second boot, as after the reboot: Go resumes by itself; its reboot decision is withheld.
    Child service({install.File("snxsvc"), "-Foreground"}, true);
    ASSERT_TRUE(Within(std::chrono::seconds(60), [&] {
      return Text(log).find(
                 "Reboot withheld: 1 automatic reboot(s) in the last 24 hours, "
                 "MaxRebootsPerDay is 1.") != std::string::npos;
    })) << Text(log);
    EXPECT_TRUE(Within(std::chrono::seconds(30), [&] { return down_mails() == 2; }));
    EXPECT_THAT(Snxctl({"state"}).out,
                HasSubstr("(Go loop running)\nautomatic reboots in the last 24 hours: 1 "
                          "(MaxRebootsPerDay 1); reboots withheld: "));
    EXPECT_EQ(Terminate(service), 0) << service.Output();
  }
  EXPECT_EQ(CountOf(Text(requests), "\n"), 1);  // no second reboot
  EXPECT_EQ(CountOf(Text(log), "OnBtnGo() m_iLastKnownServerState == 1002"), 1);  // resumed
  EXPECT_THAT(Text(log),
              HasSubstr("Resuming GO mode by itself: the watchdog rebooted the machine"));
}

}  // namespace
}  // namespace snx::test

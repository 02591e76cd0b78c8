// The reboot storm guard with the real service: snxsvc in the foreground over a temporary state
// root, the recording power facility, minutes of one second, aiosmtpd for the alert mails and
// a site that stays down. With MaxRebootsPerDay=1 the first reboot decision is recorded and ends
// Go as a reboot does; the service started again (as after the reboot) resumes Go by itself and
// withholds its next reboot, with its alert mail.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "files/settings_file_writer.h"
#include "integration/aiosmtpd_sink.h"
#include "integration/subprocess.h"
#include "platform/component_factory.h"
#include "platform/power.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

namespace snx::test {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

std::string BuiltBin() {
  const char* dir = std::getenv("SNX_TEST_BIN_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/bin/";
}

template <class F>
bool WaitUntil(F ready, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

int CountOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

std::string ReadIfThere(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Spool(const TempDir& spool) {
  std::string all;
  for (int i = 1; fs::exists(spool.File("msg-" + std::to_string(i) + ".eml")); ++i) {
    all += spool.Read("msg-" + std::to_string(i) + ".eml");
  }
  return all;
}

// snxsvc -Foreground, stopped by SIGTERM as systemd stops it.
class Service {
 public:
  explicit Service(const std::string& program) : child_({program, "-Foreground"}, true) {}
  ~Service() { Stop(); }
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  int Stop() {
    if (stopped_) return code_;
    stopped_ = true;
    ::kill(child_.pid(), SIGTERM);
    code_ = child_.Wait(std::chrono::seconds(60));
    return code_;
  }
  std::string Output() const { return child_.Output(); }

 private:
  Child child_;
  bool stopped_ = false;
  int code_ = -1;
};

TEST(RebootGuardEndToEnd, TheServiceRebootsOnceThenWithholdsTheNextRebootWithItsMail) {
  TempDir spool;
  AiosmtpdSink sink(spool);
  if (!sink.Started()) GTEST_SKIP() << "aiosmtpd is not available: " << sink.Banner();

  TempDir install;
  TempDir root;
  ScopedEnv root_env("SNX_ROOT", root.path().c_str());
  ScopedEnv power_env("SNX_POWER", "record");
  ScopedEnv minute_env("SNX_MINUTE_SECONDS", "1");

  // The install folder: the service, the watcher plug-in, a web-server reset that does nothing.
  const std::string service = install.File("snxsvc");
  fs::copy_file(BuiltBin() + "snxsvc", service);
  ::chmod(service.c_str(), 0755);
  for (const char* dll : {"QorPerf.dll", "QorPulse.dll", "SnxReport.dll", "QorAssure.dll"}) {
    fs::copy_file(BuiltBin() + dll, install.File(dll));
  }
  std::string why;
  ASSERT_EQ(platform::Use<platform::ComponentFactory>().RegisterServer(install.File("QorPerf.dll"),
                                                                       false, &why),
            platform::S_OK)
      << why;
  install.Write("iisreset", "#!/bin/sh\nexit 0\n");
  ::chmod(install.File("iisreset").c_str(), 0755);
  install.Write("Sentinex.ini", "MaxWait=30\n");
  ::chmod(install.File("Sentinex.ini").c_str(), 0600);
  // The start-up shortcut the reboot needs to set the AutoRun mark.
  const std::string desktop =
      root.path() + "/var/lib/snxsvc/drives/C/Documents and Settings/All Users/Desktop";
  fs::create_directories(desktop);
  std::ofstream(desktop + "/Sentinex.lnk") << "link";

  // A site that stays down: nothing listens on its port.
  std::uint16_t port = 0;
  ::close(ListenOnLoopback(port));
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
  const std::string record = root.path() + "/var/lib/snxsvc/reboot-record";
  const std::string log = install.File("SNXSVC.log");

  {  // First boot: Go by command; a restart, then the reboot.
    Service first(service);
    ASSERT_TRUE(
        WaitUntil([] { return Snxctl({"state"}).exit_code == 0; }, std::chrono::seconds(30)))
        << first.Output();
    ASSERT_EQ(Snxctl({"go"}).exit_code, 0);
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(requests); }, std::chrono::seconds(60)))
        << ReadIfThere(log);
    EXPECT_TRUE(WaitUntil(
        [&] { return Snxctl({"state"}).out.find("Go loop running") == std::string::npos; },
        std::chrono::seconds(10)));
    const snx::test::Run state = Snxctl({"state"});
    EXPECT_THAT(state.out,
                HasSubstr("automatic reboots in the last 24 hours: 1 (MaxRebootsPerDay 1)"));
    EXPECT_EQ(first.Stop(), 0) << first.Output();
  }
  EXPECT_EQ(CountOf(ReadIfThere(requests), "\n"), 1);
  EXPECT_EQ(CountOf(ReadIfThere(record), "\n"), 2);           // the header and one reboot
  EXPECT_EQ(CountOf(Spool(spool), "Subject: Site down"), 1);  // the first failure's

  {  // Second boot, as after the reboot: Go resumes by itself and the next reboot is withheld.
    Service second(service);
    ASSERT_TRUE(WaitUntil(
        [&] {
          return ReadIfThere(log).find(
                     "Reboot withheld: 1 automatic "
                     "reboot(s) in the last 24 hours, "
                     "MaxRebootsPerDay is 1.") != std::string::npos;
        },
        std::chrono::seconds(60)))
        << ReadIfThere(log);
    EXPECT_TRUE(WaitUntil([&] { return CountOf(Spool(spool), "Subject: Site down") == 2; },
                          std::chrono::seconds(30)));
    const snx::test::Run state = Snxctl({"state"});
    EXPECT_THAT(state.out, HasSubstr("(Go loop running)"));
    EXPECT_THAT(state.out, HasSubstr("MaxRebootsPerDay 1); reboots withheld: "));
    EXPECT_EQ(second.Stop(), 0) << second.Output();
  }
  EXPECT_EQ(CountOf(ReadIfThere(requests), "\n"), 1);  // no second reboot
  // The second Go began as after our own reboot.
  EXPECT_EQ(CountOf(ReadIfThere(log), "OnBtnGo() m_iLastKnownServerState == 1002"), 1);
}

}  // namespace
}  // namespace snx::test

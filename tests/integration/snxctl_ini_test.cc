// snxctl ini as an administrator runs it: show a program, run its sections with the real
// engine, and refuse a program that others may write.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace {

using ::testing::HasSubstr;
using snx::test::TempDir;
using Args = std::vector<std::string>;

class SnxctlIni : public ::testing::Test {
 protected:
  void Program(const std::string& text, mode_t mode = 0600) {
    dir_.Write("Sentinex.ini", text);
    ::chmod(dir_.File("Sentinex.ini").c_str(), mode);
  }
  Args Ini(Args args) {
    args.insert(args.begin(), {snx::test::SnxctlPath(), "ini", "--dir", dir_.path()});
    return args;
  }

  TempDir dir_;
  TempDir watched_;
};

snx::test::Run IniRun(const TempDir& dir, Args args) {
  args.insert(args.begin(), {"ini", "--dir", dir.path()});
  return snx::test::Snxctl(args);
}

TEST_F(SnxctlIni, ShowPrintsTheSectionsAndSettings) {
  Program("MaxWait=30\nBegin=Detection\nDetect=/var/log/app.log\nEnd=\n"
          "Begin=RESTARTER\nStop=server\nStart=/usr/sbin/app --serve\nEnd=\nUserName=ops\n");
  const auto r = IniRun(dir_, {"show"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_THAT(r.out, HasSubstr("[Detection] detection section"));
  EXPECT_THAT(r.out, HasSubstr("[RESTARTER] restarter section"));
  EXPECT_THAT(r.out, HasSubstr("KILL /f  server"));
  EXPECT_THAT(r.out, HasSubstr("MaxWait                30 s"));
  EXPECT_THAT(r.out, HasSubstr("UserName               ops"));
  EXPECT_EQ(IniRun(dir_, {"show", "extra"}).exit_code, 2);
  EXPECT_EQ(IniRun(dir_, {"run", "sideways"}).exit_code, 2);
}

TEST_F(SnxctlIni, DetectPassesOnlyWhenTheFirstLineChanged) {
  Program("Begin=Detection\nDetect=" + watched_.File("app.log") + "\nEnd=\n");
  watched_.Write("app.log", "first\n");
  EXPECT_EQ(IniRun(dir_, {"run", "detection"}).exit_code, 0);  // no copy yet
  const auto same = IniRun(dir_, {"run", "detection"});
  EXPECT_EQ(same.exit_code, 1);
  EXPECT_THAT(same.out, HasSubstr("Activity Detect is NEGATIVE for " + watched_.File("app.log")));
  watched_.Write("app.log", "second\n");
  EXPECT_EQ(IniRun(dir_, {"run", "detection"}).exit_code, 0);
  EXPECT_EQ(IniRun(dir_, {"run", "detection"}).exit_code, 1);
  EXPECT_EQ(watched_.Read("app.log"), "second\n");  // the watched file is only read
}

TEST_F(SnxctlIni, WaitForFile) {
  Program("MaxWait=1\nBegin=Detection\nWaitForFile=" + watched_.File("ready") + "\nEnd=\n");
  // Missing for the whole wait: fails after the first poll (one poll sleeps 6 s).
  const auto missing = IniRun(dir_, {"run", "detection"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_THAT(missing.out, HasSubstr("'WaitForFile' FAILS for " + watched_.File("ready")));

  Program("MaxWait=60\nBegin=Detection\nWaitForFile=" + watched_.File("ready") + "\nEnd=\n");
  snx::test::Child child(Ini({"run", "detection"}), true);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  watched_.Write("ready", "");
  EXPECT_EQ(child.Wait(std::chrono::seconds(30)), 0) << child.Output();
}

TEST_F(SnxctlIni, DryRunStartsKillsAndDeletesNothing) {
  watched_.Write("signal", "x");
  Program("Begin=RESTARTER\nStart=/bin/sh -c \"touch " + watched_.File("started") +
          "\"\nDeleteSignalFile=" + watched_.File("signal") + "\nEnd=\n");
  const auto r = IniRun(dir_, {"run", "restarter", "--dry-run"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_THAT(r.out, HasSubstr("delete " + watched_.File("signal")));
  EXPECT_EQ(::access(watched_.File("signal").c_str(), F_OK), 0);
  EXPECT_NE(::access(watched_.File("started").c_str(), F_OK), 0);
}

TEST_F(SnxctlIni, AProgramOthersMayWriteIsRefused) {
  Program("Begin=RESTARTER\nStart=/bin/true\nEnd=\n", 0666);
  const auto r = IniRun(dir_, {"show"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_THAT(r.out, HasSubstr(dir_.File("Sentinex.ini")));
  EXPECT_THAT(r.out, HasSubstr("writable by everyone"));
  ::unlink(dir_.File("Sentinex.ini").c_str());
  EXPECT_EQ(IniRun(dir_, {"show"}).exit_code, 1);  // missing: the same failure
}

}  // namespace

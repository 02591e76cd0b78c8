// snxctl ini as an administrator runs it: show a program, run its sections with the real
// engine, and refuse a program that others may write.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace {

using snx::test::TempDir;
using ::testing::HasSubstr;
using Args = std::vector<std::string>;

class SnxctlIni : public ::testing::Test {
 protected:
  void Program(const std::string& text, mode_t mode = 0600) {
    dir_.Write("Sentinex.ini", text);
    ::chmod(dir_.File("Sentinex.ini").c_str(), mode);
  }

  TempDir dir_;
  TempDir watched_;
};

snx::test::CtlRun IniRun(const TempDir& dir, Args args) {
  args.insert(args.begin(), {"ini", "--dir", dir.path()});
  return snx::test::Snxctl(args);
}

TEST_F(SnxctlIni, ShowPrintsTheSectionsAndSettings) {
  Program(
      "MaxWait=30\nBegin=Detection\nDetect=/var/log/app.log\nEnd=\n"
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

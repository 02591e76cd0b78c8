// snxctl conf as an administrator runs it, and the service's own classes reading what it wrote.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files/all_sets.h"
#include "files/ram_file_ro.h"
#include "integration/subprocess.h"
#include "support/test_support.h"

namespace {

using snx::test::TempDir;
using ::testing::HasSubstr;
using Args = std::vector<std::string>;

// snxctl conf --dir FOLDER ARGS...
snx::test::CtlRun Conf(const TempDir& dir, Args args) {
  args.insert(args.begin(), {"conf", "--dir", dir.path()});
  return snx::test::Snxctl(args);
}

// A plain settings file with CR LF and LF line ends, and what export gives back.
const std::string kPlain =
    "[KEYS]\r\nMinuteInterval=5\r\nPassword=p@ss word!\nWATCH=1\nSvrStatus=Restarting\n"
    "[URLS]\nhttp://127.0.0.1/shop/?q=1&x={y}|~z\n[EMAILS]\nops@example.com\n";
const std::string kExported =
    "[KEYS]\nMinuteInterval=5\nPassword=p@ss word!\nWATCH=1\nSvrStatus=Restarting\n"
    "[URLS]\nhttp://127.0.0.1/shop/?q=1&x={y}|~z\n[EMAILS]\nops@example.com\n";

// A folder whose settings file was imported from kPlain.
void Import(const TempDir& dir) {
  dir.Write("plain.txt", kPlain);
  ASSERT_EQ(Conf(dir, {"import", dir.File("plain.txt")}).exit_code, 0);
}

TEST(SnxctlConfTest, ImportEnciphersEveryCharacterAndExportGivesTheLinesBack) {
  TempDir dir;
  Import(dir);
  // Enciphered line by line (the characters themselves are the cipher's tests' business).
  const std::string bytes = dir.Read("AutoSet.caf");
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 9);
  EXPECT_EQ(bytes.find("Password"), std::string::npos) << "the file must not be plain text";
  EXPECT_EQ(Conf(dir, {"export"}).out, kExported);
  EXPECT_EQ(Conf(dir, {"show"}).out, kExported);

  // The service's classes read the same settings.
  CRamFileRO image;
  CAllSets sets;
  sets.SetProgramDirectory(dir.path());
  sets.SetSettingsImage(&image);
  ASSERT_TRUE(sets.ReInitialize());
  EXPECT_EQ(sets.m_iMinuteInterval, 5);
  EXPECT_EQ(sets.m_sPassword.View(), "p@ss word!");
  EXPECT_EQ(sets.m_iLastKnownServerState, QOR_FAILS_DETECTED_SERVER_RESTARTING);
  EXPECT_STREQ(image.FirstLineOfSection("[URLS]"), "http://127.0.0.1/shop/?q=1&x={y}|~z");
}

TEST(SnxctlConfTest, KeysAndSectionsEditedOneByOne) {
  TempDir dir;
  for (const Args& args : std::vector<Args>{{"set", "MinuteInterval", "7"},  // makes the file
                                            {"add", "URLS", "http://127.0.0.1/a"},
                                            {"add", "[urls]", "http://127.0.0.1/b"},
                                            {"set", "EmailFrom", "ops@example.com"},
                                            {"set", "minuteinterval", "9"},
                                            {"add", "STOPS", std::string(255, 's')}}) {
    ASSERT_EQ(Conf(dir, args).exit_code, 0) << args[0] << " " << args[1];
  }
  EXPECT_EQ(Conf(dir, {"get", "MINUTEINTERVAL"}).out, "9\n");
  EXPECT_EQ(Conf(dir, {"list", "URLS"}).out, "http://127.0.0.1/a\nhttp://127.0.0.1/b\n");
  EXPECT_EQ(Conf(dir, {"list", "STOPS"}).out, std::string(255, 's') + "\n");  // the longest line
  EXPECT_EQ(Conf(dir, {"list", "PROGS"}).out, "");
  EXPECT_EQ(Conf(dir, {"remove", "URLS", "http://127.0.0.1/a"}).exit_code, 0);
  EXPECT_EQ(Conf(dir, {"remove", "URLS", "http://127.0.0.1/a"}).exit_code, 1);
  EXPECT_EQ(Conf(dir, {"get", "Missing"}).exit_code, 1);
  EXPECT_EQ(Conf(dir, {"export"}).out,
            "[KEYS]\nminuteinterval=9\nEmailFrom=ops@example.com\n[URLS]\nhttp://127.0.0.1/b\n"
            "[STOPS]\n" +
                std::string(255, 's') + "\n");
}

TEST(SnxctlConfTest, BadInputLeavesTheFileAsItWas) {
  TempDir dir;
  Import(dir);
  const std::string before = dir.Read("AutoSet.caf");
  dir.Write("long.txt", "[KEYS]\n" + std::string(256, 'a') + "\n");
  dir.Write("high.txt", "[KEYS]\r\nName=caf\xe9\r\n");
  const struct {
    Args args;
    int exit_code;
    const char* message;
  } cases[] = {
      {{"set", "Password", std::string(300, 'x')}, 1, "at most 255"},
      {{"set", "Password", "a\tb"}, 1, "code 9"},
      {{"set", "Bad=Key", "1"}, 1, "must not be empty or hold"},
      {{"set", "Password", "x[y"}, 1, "must not hold \"[\""},
      {{"add", "URLS", "http://[::1]/"}, 1, "must not hold \"[\""},
      {{"add", "KEYS", "A=1"}, 2, "use 'get' and 'set'"},
      {{"import", dir.File("long.txt")}, 1, "line 2 is 256 characters"},
      {{"import", dir.File("high.txt")}, 1, "code 233"},
      {{"import", dir.File("missing.txt")}, 1, "No such file"},
      // An endless input is refused at the size bound, not read until memory runs out.
      {{"import", "/dev/zero"}, 1, "is larger than 1048576 bytes"},
      {{}, 2, "no command given"},
      {{"frobnicate"}, 2, "unknown command"},
      {{"list", "[A]B]"}, 2, "bad section name"},
      {{"set", "MinuteInterval", "abc"},
       2,
       "MinuteInterval takes a whole number from 1 to 1440, not 'abc'; nothing changed"},
      {{"set", "emailenabled", "yes"}, 2, "EmailEnabled takes 1 (yes) or 0 (no)"},
  };
  for (const auto& c : cases) {
    const auto run = Conf(dir, c.args);
    EXPECT_EQ(run.exit_code, c.exit_code) << c.message;
    EXPECT_THAT(run.out, HasSubstr(c.message));
    EXPECT_EQ(dir.Read("AutoSet.caf"), before) << c.message;
  }
}

// conf check on the files of a real folder: a line per problem and exit 1, then exit 0 once
// they are mended. An unknown key is set, with a warning.
TEST(SnxctlConfTest, CheckTellsEachProblemOfTheSettingsAndTheRestartProgram) {
  TempDir dir;
  TempDir root;
  snx::test::ScopedEnv root_env("SNX_ROOT", root.path().c_str());
  Import(dir);
  // A companion registered from a file that is gone since.
  const auto plugin = std::filesystem::path(snx::test::SnxctlPath()).parent_path() / "QorPulse.dll";
  std::filesystem::copy_file(plugin, dir.File("QorPulse.dll"));
  ASSERT_EQ(snx::test::Snxctl({"register", "--dir", dir.path(), "QorPulse.dll"}).exit_code, 0);
  std::filesystem::remove(dir.File("QorPulse.dll"));
  const auto warned = Conf(dir, {"set", "EmailEnabeld", "1"});
  EXPECT_EQ(warned.exit_code, 0);
  EXPECT_THAT(warned.out, HasSubstr("warning: EmailEnabeld is not a key the service reads; did "
                                    "you mean EmailEnabled?"));
  dir.Write("Sentinex.ini", "Begin=RESTARTER\nStpo=typo\nEnd=\n");
  const auto bad = Conf(dir, {"check"});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.out,
            "AutoSet.caf line 6: unknown key EmailEnabeld: did you mean EmailEnabled?\n"
            "Sentinex.ini line 2: unknown step Stpo: did you mean Stop?\n"
            "QorPulse.Pulse: registered to " +
                dir.File("QorPulse.dll") +
                ", which does not exist (snxctl register QorPulse.dll)\n");
  std::filesystem::copy_file(plugin, dir.File("QorPulse.dll"));  // back again

  dir.Write("plain.txt", kPlain);
  ASSERT_EQ(Conf(dir, {"import", dir.File("plain.txt")}).exit_code, 0);
  dir.Write("Sentinex.ini", "Begin=RESTARTER\nStop=server.exe\nEnd=\n");
  const auto good = Conf(dir, {"check"});
  EXPECT_EQ(good.exit_code, 0) << good.out;
}

// A user who may not read the file (a member of snxadm, not the service's user) is told so.
TEST(SnxctlConfTest, AFileThisUserMayNotReadIsNamedAsSuch) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "needs root and setpriv to run as another user";
  }
  TempDir dir;
  Import(dir);
  ::chmod(dir.path().c_str(), 0755);
  const auto run = snx::test::Snxctl(
      {"--reuid=65534", "--regid=65534", "--clear-groups", snx::test::SnxctlPath(), "conf", "--dir",
       dir.path(), "get", "MinuteInterval"},
      "/usr/bin/setpriv");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr("Permission denied (the settings file is readable by its owner "
                                 "only"));
  EXPECT_THAT(run.out, ::testing::Not(HasSubstr("cannot find its file")));
}

TEST(SnxctlConfTest, ChangesOfProcessesRunningAtOnceAreAllKept) {
  TempDir dir;
  Import(dir);
  // Six writers, each adding eight entries one process after the other, all at the same time.
  constexpr int kWriters = 6;
  constexpr int kAdds = 8;
  const std::string loop = "i=0; while [ $i -lt " + std::to_string(kAdds) +
                           " ]; do i=$((i+1)); \"$0\" conf --dir \"$1\" add URLS "
                           "\"http://w$2-$i/\" || exit 1; done";
  std::vector<std::unique_ptr<snx::test::Child>> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(std::make_unique<snx::test::Child>(
        Args{"/bin/sh", "-c", loop, snx::test::SnxctlPath(), dir.path(), std::to_string(w)}));
  }
  for (auto& w : writers) EXPECT_EQ(w->Wait(std::chrono::seconds(60)), 0);
  const std::string listed = Conf(dir, {"list", "URLS"}).out;
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 1; i <= kAdds; ++i) {
      const std::string entry = "http://w" + std::to_string(w) + "-" + std::to_string(i) + "/\n";
      EXPECT_THAT(listed, HasSubstr(entry)) << "a change reported as saved was lost";
    }
  }
  EXPECT_THAT(Conf(dir, {"get", "Password"}).out, HasSubstr("p@ss word!"));
}

TEST(SnxctlConfTest, NoFileIsMadeOrChangedUnlessASaveSucceeds) {
  TempDir dir;
  auto run = snx::test::Snxctl({"conf", "--dir", dir.File("nowhere"), "set", "A", "1"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr("no such folder"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("nowhere")));
  run = Conf(dir, {"show"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr("no settings file"));
  EXPECT_EQ(Conf(dir, {"remove", "URLS", "http://x/"}).exit_code, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("AutoSet.caf"))) << "a failed command made a file";

  // A file with a line the service cannot read stays as it is, whatever is asked.
  const std::string damaged = std::string(300, 'A') + "\r\n";
  dir.Write("AutoSet.caf", damaged);
  for (const Args& args : std::vector<Args>{{"show"}, {"set", "A", "1"}}) {
    run = Conf(dir, args);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.out, HasSubstr("LoadToRam() failed"));
    EXPECT_EQ(dir.Read("AutoSet.caf"), damaged);
  }
}

TEST(SnxctlConfTest, WithoutDirTheFolderOfTheProgramIsUsed) {
  TempDir dir;
  const std::string copy = dir.File("snxctl");
  std::filesystem::copy_file(snx::test::SnxctlPath(), copy);
  ASSERT_EQ(snx::test::Snxctl({"conf", "set", "MinuteInterval", "3"}, copy).exit_code, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.File("AutoSet.caf")));
  EXPECT_EQ(snx::test::Snxctl({"conf", "get", "MinuteInterval"}, copy).out, "3\n");
}

}  // namespace

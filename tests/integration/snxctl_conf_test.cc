// snxctl conf as an administrator runs it, and the service's own classes reading what it wrote.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "files/all_sets.h"
#include "files/ram_file_ro.h"
#include "integration/subprocess.h"
#include "support/test_support.h"

namespace {

using snx::test::Child;
using snx::test::TempDir;
using ::testing::HasSubstr;

struct CtlRun {
  int exit_code;
  std::string out;
};

CtlRun RunProgram(const std::string& program, std::vector<std::string> args,
                  snx::test::Stderr err = snx::test::Stderr::kDrop) {
  args.insert(args.begin(), program);
  Child child(args, err);
  CtlRun run{};
  run.exit_code = child.Finish(run.out, std::chrono::seconds(30));
  return run;
}

// snxctl conf --dir FOLDER ARGS...
CtlRun Conf(const TempDir& dir, std::vector<std::string> args,
            snx::test::Stderr err = snx::test::Stderr::kDrop) {
  args.insert(args.begin(), {"conf", "--dir", dir.path()});
  return RunProgram(snx::test::SnxctlPath(), args, err);
}

const char kPlain[] =
    "[KEYS]\r\n"
    "MinuteInterval=5\r\n"
    "Password=p@ss word!\n"
    "WATCH=1\n"
    "SvrStatus=Restarting\n"
    "[URLS]\n"
    "http://127.0.0.1/shop/?q=1&x={y}|~z\n"
    "[EMAILS]\n"
    "ops@example.com\n";
const char kExported[] =
    "[KEYS]\nMinuteInterval=5\nPassword=p@ss word!\nWATCH=1\nSvrStatus=Restarting\n[URLS]\n"
    "http://127.0.0.1/shop/?q=1&x={y}|~z\n[EMAILS]\nops@example.com\n";

TEST(SnxctlConfTest, ImportEnciphersEveryCharacterAndExportGivesTheLinesBack) {
  TempDir dir;
  dir.Write("plain.txt", kPlain);
  ASSERT_EQ(Conf(dir, {"import", dir.File("plain.txt")}).exit_code, 0);

  const std::string bytes = dir.Read("AutoSet.caf");
  int lines = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r') {
      ASSERT_LT(i + 1, bytes.size());
      ASSERT_EQ(bytes[i + 1], '\n') << "at byte " << i;
      ++lines;
      ++i;
      continue;
    }
    ASSERT_TRUE(c >= 32 && c <= 192) << "byte " << i << " is " << static_cast<int>(c);
  }
  EXPECT_EQ(lines, 9);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  EXPECT_EQ(bytes.find("Password"), std::string::npos) << "the file must not be plain text";
  struct stat st {};
  ASSERT_EQ(::stat(dir.File("AutoSet.caf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  const CtlRun exported = Conf(dir, {"export"});
  EXPECT_EQ(exported.exit_code, 0);
  EXPECT_EQ(exported.out, kExported);
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
  ASSERT_EQ(Conf(dir, {"set", "MinuteInterval", "7"}).exit_code, 0) << "a missing file is made";
  ASSERT_EQ(Conf(dir, {"add", "URLS", "http://127.0.0.1/a"}).exit_code, 0);
  ASSERT_EQ(Conf(dir, {"add", "[urls]", "http://127.0.0.1/b"}).exit_code, 0);
  ASSERT_EQ(Conf(dir, {"set", "EmailFrom", "ops@example.com"}).exit_code, 0);
  ASSERT_EQ(Conf(dir, {"set", "minuteinterval", "9"}).exit_code, 0);
  EXPECT_EQ(Conf(dir, {"get", "MINUTEINTERVAL"}).out, "9\n");
  EXPECT_EQ(Conf(dir, {"list", "URLS"}).out, "http://127.0.0.1/a\nhttp://127.0.0.1/b\n");
  ASSERT_EQ(Conf(dir, {"remove", "URLS", "http://127.0.0.1/a"}).exit_code, 0);
  EXPECT_EQ(Conf(dir, {"remove", "URLS", "http://127.0.0.1/a"}).exit_code, 1);
  EXPECT_EQ(Conf(dir, {"get", "Missing"}).exit_code, 1);
  EXPECT_EQ(Conf(dir, {"list", "STOPS"}).out, "");
  EXPECT_EQ(Conf(dir, {"export"}).out,
            "[KEYS]\nminuteinterval=9\nEmailFrom=ops@example.com\n[URLS]\nhttp://127.0.0.1/b\n");
}

TEST(SnxctlConfTest, BadInputLeavesTheFileAsItWas) {
  TempDir dir;
  dir.Write("plain.txt", kPlain);
  ASSERT_EQ(Conf(dir, {"import", dir.File("plain.txt")}).exit_code, 0);
  const std::string before = dir.Read("AutoSet.caf");
  dir.Write("long.txt", "[KEYS]\n" + std::string(256, 'a') + "\n");
  dir.Write("tab.txt", "[KEYS]\nPassword=a\tb\n");
  dir.Write("high.txt", "[KEYS]\nName=caf\xe9\n");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"set", "Password", std::string(300, 'x')}, "at most 255"},
      {{"set", "Password", "a\tb"}, "code 9"},
      {{"set", "Bad=Key", "1"}, "must not be empty or hold"},
      {{"set", "Password", "x[y"}, "must not hold \"[\""},
      {{"add", "URLS", "http://[::1]/"}, "must not hold \"[\""},
      {{"add", "URLS", std::string(256, 'u')}, "at most 255"},
      {{"add", "URLS", "caf\xe9"}, "code 233"},
      {{"add", "KEYS", "A=1"}, "use 'get' and 'set'"},
      {{"import", dir.File("long.txt")}, "line 2 is 256 characters"},
      {{"import", dir.File("tab.txt")}, "line 2 has a character"},
      {{"import", dir.File("high.txt")}, "code 233"},
      {{"import", dir.File("missing.txt")}, "cannot read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back().substr(0, 20));
    const CtlRun run = Conf(dir, c.args, snx::test::Stderr::kMerge);
    EXPECT_NE(run.exit_code, 0);
    EXPECT_THAT(run.out, HasSubstr(c.message));
    EXPECT_EQ(dir.Read("AutoSet.caf"), before);
  }
  EXPECT_EQ(Conf(dir, {"export"}).out, kExported);
}

TEST(SnxctlConfTest, MissingFoldersAndUnreadableFilesAreReported) {
  TempDir dir;
  CtlRun run =
      RunProgram(snx::test::SnxctlPath(), {"conf", "--dir", dir.File("nowhere"), "set", "A", "1"},
                 snx::test::Stderr::kMerge);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr("no such folder"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("nowhere")));

  run = Conf(dir, {"show"}, snx::test::Stderr::kMerge);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr("no settings file"));
  EXPECT_EQ(Conf(dir, {"remove", "URLS", "http://x/"}).exit_code, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("AutoSet.caf"))) << "a failed command made a file";

  // A file with a line the service cannot read stays as it is, whatever is asked.
  const std::string damaged = std::string(300, 'A') + "\r\n";
  dir.Write("AutoSet.caf", damaged);
  for (const auto& args : std::vector<std::vector<std::string>>{{"show"}, {"set", "A", "1"}}) {
    run = Conf(dir, args, snx::test::Stderr::kMerge);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.out, HasSubstr("cannot read"));
    EXPECT_EQ(dir.Read("AutoSet.caf"), damaged);
  }
}

TEST(SnxctlConfTest, UsageErrorsExitWithTwo) {
  TempDir dir;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"get"}, {"set", "A"}, {"list", "[A]B]"}}) {
    EXPECT_EQ(Conf(dir, args).exit_code, 2) << (args.empty() ? "" : args.front());
  }
  EXPECT_EQ(RunProgram(snx::test::SnxctlPath(), {"conf", "--help"}).exit_code, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("AutoSet.caf")));
}

TEST(SnxctlConfTest, WithoutDirTheFolderOfTheProgramIsUsed) {
  TempDir dir;
  const std::string copy = dir.File("snxctl");
  std::filesystem::copy_file(snx::test::SnxctlPath(), copy);
  ASSERT_EQ(RunProgram(copy, {"conf", "set", "MinuteInterval", "3"}).exit_code, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.File("AutoSet.caf")));
  EXPECT_EQ(RunProgram(copy, {"conf", "get", "MinuteInterval"}).out, "3\n");
}

}  // namespace

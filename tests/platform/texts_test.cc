#include <gtest/gtest.h>

#include "platform/control_protocol.h"
#include "platform/counter_path.h"
#include "platform/launcher.h"
#include "platform/path_map.h"
#include "platform/visible_text.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

// Words of a command line, folded separators, base stems and the KILL guard.
using Words = std::vector<std::string>;

TEST(CommandLineTest, SplitsAsTheSystemsCommandLinesAreMeant) {
  const struct {
    const char* line;
    Words words;
  } cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"KILL /f  IExplore.exe", {"KILL", "/f", "IExplore.exe"}},
      {R"("C:\Program Files\app.exe" -e http://x/y)",
       {R"(C:\Program Files\app.exe)", "-e", "http://x/y"}},
      {R"(C:\\Tools\\go.exe)", {R"(C:\\Tools\\go.exe)"}},  // backslashes not before a quote stand
      {R"(a\"b)", {R"(a"b)"}},                             // odd run: a literal quote
      {R"("a\\" b)", {R"(a\)", "b"}},                      // even run: the quote closes
      {R"("say ""hi""")", {R"(say "hi")"}},                // "" inside quotes is one quote
      {R"(x "" y)", {"x", "", "y"}},                       // an empty quoted word is a word
      {R"("unclosed quote)", {"unclosed quote"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
  EXPECT_TRUE(SplitCommandLine(std::string(kMaxCommandLine + 1, 'a')).empty());
}

TEST(CommandLineTest, FoldsSeparatorsOnlyInWordsWithABackslashAndStemsEndAtTheFirstDot) {
  EXPECT_EQ((Words{FoldSeparators(R"(\\usr\\bin\\app)"), FoldSeparators(R"(a\/\b)"),
                   FoldSeparators("http://host//x"), std::string(BaseStem(R"(C:\Apps\Server.exe)")),
                   std::string(BaseStem("/usr/bin/python3.11")), std::string(BaseStem("dir.d/"))}),
            (Words{"/usr/bin/app", "a/b", "http://host//x", "Server", "python3", ""}));
}

TEST(CommandLineTest, KillNeverReachesInitOurselvesOrOurGroup) {
  constexpr int self = 500, group = 400;
  EXPECT_EQ(
      (std::vector<bool>{KillAllowed(0, self, 0, group), KillAllowed(1, self, 1, group),
                         KillAllowed(-7, self, 7, group), KillAllowed(self, self, 900, group),
                         KillAllowed(600, self, group, group), KillAllowed(600, self, 600, group)}),
      (std::vector<bool>{false, false, false, false, false, true}));
}

TEST(CounterPathTest, BuildsAndReadsBackEveryCounter) {
  for (int i = 0; i < kProcessCounterCount; ++i) {
    const std::string path = BuildCounterPath("DBHOST", "server", ProcessCounterAt(i));
    const auto parsed = ParseCounterPath(path);
    ASSERT_TRUE(parsed) << path;
    EXPECT_EQ(parsed->machine, "DBHOST");
    EXPECT_EQ(parsed->stem, "server");
    EXPECT_EQ(parsed->counter, ProcessCounterAt(i));
  }
  EXPECT_EQ(BuildCounterPath("WEB1", "server", ProcessCounter::kElapsedTime),
            R"(\\WEB1\Process(server)\Elapsed Time)");
}

TEST(CounterPathTest, RefusesMalformedPaths) {
  for (const char* bad : {"", R"(\\)", R"(\\WEB1)", R"(\WEB1\Process(a)\Elapsed Time)",
                          R"(\\\Process(a)\Elapsed Time)", R"(\\W\Process()\Elapsed Time)",
                          R"(\\W\Thread(a)\Elapsed Time)", R"(\\W\Process(a)\Handle Count)",
                          R"(\\W\Process(a(b)\Elapsed Time)", R"(\\W\Process(a)\Elapsed Time )",
                          "\\\\W\\Process(a\x01)\\Elapsed Time"}) {
    EXPECT_FALSE(ParseCounterPath(bad)) << bad;
  }
  EXPECT_TRUE(ParseCounterPath(R"(\\w\PROCESS(a)\io data bytes/SEC)"));
}

// The command socket's request and answer lines.
TEST(ControlProtocol, RequestLines) {
  const std::pair<std::string, ControlRequest> cases[] = {
      {"OpsCommand 1000", {ControlMethod::kOpsCommand, 1000}},
      {"opscommand -1\r", {ControlMethod::kOpsCommand, -1}},
      {"GETSTRINGRESULT +1012", {ControlMethod::kGetStringResult, 1012}},
      {"OpsCommand 2147483647", {ControlMethod::kOpsCommand, 2147483647}},
  };
  for (const auto& [line, want] : cases) EXPECT_EQ(ParseControlRequest(line), want) << line;
  // Past 32 bits, odd blanks and signs, unknown methods, a NUL and overlong lines say why.
  for (const std::string& bad :
       Words{"OpsCommand 2147483648", "OpsCommand  1000", "OpsCommand 1000 ", "OpsCommand 10x",
             "OpsCommand", "OpsCommand +", "OpsCommand ++5", "Release 1", "",
             std::string("OpsCommand 1\0", 13), "OpsCommand " + std::string(200, '1')}) {
    std::string why;
    EXPECT_EQ(ParseControlRequest(bad, &why), std::nullopt) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  const ControlRequest r{ControlMethod::kGetStringResult, 1013};
  EXPECT_EQ(ParseControlRequest(FormatControlRequest(r)), r);
}

TEST(ControlProtocol, AnswersKeepToOneVisibleLine) {
  const ControlAnswer number = ParseControlAnswer(AnswerInteger(-1));
  EXPECT_EQ(std::tuple(number.kind, number.number), std::tuple(AnswerKind::kInteger, -1));
  const std::string text = AnswerText("GO MODE\n\x1b[2J http://x/");
  EXPECT_EQ(text.find_first_of("\n\r\x1b"), std::string::npos);
  EXPECT_EQ(ParseControlAnswer(text).kind, AnswerKind::kText);
  EXPECT_EQ(ParseControlAnswer("TEXT ").text, "");
  EXPECT_EQ(ParseControlAnswer(AnswerNone()).kind, AnswerKind::kNone);
  EXPECT_EQ(AnswerText(std::string(10000, 'a')).size(), kMaxAnswerLine);
  const ControlAnswer error = ParseControlAnswer(AnswerError("unknown method"));
  EXPECT_EQ(std::tuple(error.kind, error.text), std::tuple(AnswerKind::kError, "unknown method"));
  for (const char* odd : {"OK", "OK x", "HELLO", "OK 99999999999"}) {
    EXPECT_EQ(ParseControlAnswer(odd).kind, AnswerKind::kError) << odd;
  }
}

TEST(VisibleTextTest, EscapesControlCharactersAndKeepsTheRest) {
  EXPECT_EQ(VisibleText("C:\\Tools\\go.exe caf\xc3\xa9"), "C:\\Tools\\go.exe caf\xc3\xa9");
  EXPECT_EQ(VisibleText("a\x1b[2Jb\a"), "a\\x1b[2Jb\\x07");
  EXPECT_EQ(VisibleText(std::string_view("x\0y\x7f", 4)), "x\\x00y\\x7f");
  EXPECT_EQ(VisibleText("one\r\ntwo\tthree"), "one\\r\\ntwo\\tthree");
  EXPECT_TRUE(IsVisibleText("plain text"));
  EXPECT_FALSE(IsVisibleText("two\nlines"));
}

constexpr const char* kD = "/r/var/lib/snxsvc/drives/D";
constexpr const char* kC = "/r/var/lib/snxsvc/drives/C";

TEST(MapPathTextTest, DrivesTopLevelFoldersAndPosixPaths) {
  const struct {
    const char* text;
    const char* root;
    std::string expected;
  } cases[] = {
      // Drives: the root joins with exactly one "/"; an empty root is "/", not a relative path.
      {"D:\\Heartbeat", "", "/var/lib/snxsvc/drives/D/Heartbeat"},
      {"D:\\Heartbeat", "/r//", std::string(kD) + "/Heartbeat"},
      {"d:\\x\\y.txt", "/r", std::string(kD) + "/x/y.txt"},
      {"D:", "/r", kD},
      {"D:\\", "/r", std::string(kD) + "/"},
      {"E:notes.txt", "/r", "/r/var/lib/snxsvc/drives/E/notes.txt"},  // from the drive's root
      // The escaped form, with every backslash doubled.
      {"C:\\\\dir\\\\file", "/r", std::string(kC) + "/dir/file"},
      // Rooted texts whose whole first component is a known top-level name live on C.
      {"\\Documents and Settings\\All Users\\x.txt", "/r",
       std::string(kC) + "/Documents and Settings/All Users/x.txt"},
      {"/PROGRAM FILES/a", "/r", std::string(kC) + "/PROGRAM FILES/a"},
      {"\\\\programmi\\\\x", "/r", std::string(kC) + "/programmi/x"},
      {"\\qordevel.TXT", "/r", std::string(kC) + "/qordevel.TXT"},
      {"\\Program Files", "/r", std::string(kC) + "/Program Files"},
      {"\\Program Files2\\x", "/r", "/Program Files2/x"},
      {"\\tmp\\Program Files", "/r", "/tmp/Program Files"},
      {"Program Files\\x", "/r", "Program Files/x"},  // not rooted: as given
      // POSIX and relative texts keep their place; only separators fold.
      {"", "/r", ""},
      {"//opt///snx", "/r", "/opt/snx"},
      {"logs\\\\today.log", "/r", "logs/today.log"},
      {"\\", "/r", "/"},
      // A colon that is not a drive prefix stays where it is.
      {"1:\\x", "/r", "1:/x"},
      {"/a/C:/b", "/r", "/a/C:/b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MapPathText(c.text, c.root), c.expected) << "\"" << c.text << "\" under " << c.root;
  }
}

TEST(StateFoldersTest, FollowSnxRoot) {
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    test::ScopedEnv env("SNX_ROOT", unset);
    EXPECT_EQ(StateRoot(), "/");
    EXPECT_EQ(StateDir(), "/var/lib/snxsvc");
    EXPECT_EQ(RuntimeDir(), "/run/snxsvc");
  }
  test::ScopedEnv env("SNX_ROOT", "/tmp/snx-root/");
  EXPECT_EQ(RuntimeDir(), "/tmp/snx-root/run/snxsvc");
  EXPECT_EQ(ToPosixPath("c:\\QorDevel.txt"), "/tmp/snx-root/var/lib/snxsvc/drives/C/QorDevel.txt");
}

}  // namespace
}  // namespace snx::platform

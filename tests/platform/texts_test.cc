#include <gtest/gtest.h>

#include "platform/launcher.h"
#include "platform/path_map.h"
#include "platform/visible_text.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

// Words of a command line, folded separators, base stems and the KILL guard.
using Words = std::vector<std::string>;

TEST(CommandLineTest, SplitsAsTheSystemsCommandLinesAreMeant) {
  const std::pair<const char*, Words> cases[] = {
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
  for (const auto& [line, words] : cases) EXPECT_EQ(SplitCommandLine(line), words) << line;
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
  // The text, the state root, and the path it maps to.
  const std::tuple<const char*, const char*, std::string> cases[] = {
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
  for (const auto& [text, root, expected] : cases) {
    EXPECT_EQ(MapPathText(text, root), expected) << "\"" << text << "\" under " << root;
  }
}

TEST(StateFoldersTest, FollowSnxRoot) {
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    test::ScopedEnv env("SNX_ROOT", unset);
    EXPECT_EQ(StateRoot(), "/");
    EXPECT_EQ(StateDir(), "/var/lib/snxsvc");
  }
  test::ScopedEnv env("SNX_ROOT", "/tmp/snx-root/");
  EXPECT_EQ(RuntimeDir(), "/tmp/snx-root/run/snxsvc");
  EXPECT_EQ(ToPosixPath("c:\\QorDevel.txt"), "/tmp/snx-root/var/lib/snxsvc/drives/C/QorDevel.txt");
}

}  // namespace
}  // namespace snx::platform

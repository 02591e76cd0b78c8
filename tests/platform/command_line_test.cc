// Words of a command line, folded separators, base stems and the KILL guard.

#include <gtest/gtest.h>

#include "platform/launcher.h"

namespace snx::platform {
namespace {

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
  EXPECT_EQ(FoldSeparators(R"(\\usr\\bin\\app)"), "/usr/bin/app");
  EXPECT_EQ(FoldSeparators(R"(a\/\b)"), "a/b");
  EXPECT_EQ(FoldSeparators("http://host//x"), "http://host//x");
  EXPECT_EQ(BaseStem(R"(C:\Apps\Server.exe)"), "Server");
  EXPECT_EQ(BaseStem("/usr/bin/python3.11"), "python3");
  EXPECT_EQ(BaseStem("dir.d/"), "");
}

TEST(CommandLineTest, KillNeverReachesInitOurselvesOrOurGroup) {
  constexpr int self = 500, group = 400;
  EXPECT_FALSE(KillAllowed(0, self, 0, group));
  EXPECT_FALSE(KillAllowed(1, self, 1, group));
  EXPECT_FALSE(KillAllowed(-7, self, 7, group));
  EXPECT_FALSE(KillAllowed(self, self, 900, group));
  EXPECT_FALSE(KillAllowed(600, self, group, group));
  EXPECT_TRUE(KillAllowed(600, self, 600, group));
}

}  // namespace
}  // namespace snx::platform

#include "files/txt_file4.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using snx::test::CapturingLog;
using snx::test::TempDir;
using Lines = std::vector<std::string>;

// Every line read until ReadTextLine gives false, which must be at the end of the file.
Lines ReadLines(const std::string& path) {
  CTxtFile4 file;
  EXPECT_TRUE(file.Initialize(255));
  EXPECT_TRUE(file.OpenForReadOnly(path));
  Lines lines;
  while (file.ReadTextLine()) lines.push_back(file.Line());
  EXPECT_TRUE(file.AtEndOfFile());
  return lines;
}

TEST(TxtFile4Read, LineEndRules) {
  const std::pair<std::string, Lines> cases[] = {
      {"a\r\nbc\r\n", {"a", "bc"}},
      {"one\ntwo\n", {"one", "two"}},    // a lone LF
      {"ab\n\rcd\n\r", {"ab", "cd"}},    // LF CR
      {"a\rb\r\n", {"ab"}},              // a lone CR is dropped
      {"first\r\nxy", {"first", "xy"}},  // a last line without an end counts ...
      {"first\r\nx", {"first"}},         // ... from two characters on
      {"a\r\n\r\nbb\n", {"a", "", "bb"}},
      {"", {}},
  };
  for (const auto& [bytes, lines] : cases) {
    TempDir dir;
    dir.Write("f.txt", bytes);
    EXPECT_EQ(ReadLines(dir.File("f.txt")), lines) << testing::PrintToString(bytes);
  }
}

TEST(TxtFile4Read, ALineLongerThanTheBufferIsCutAndLosesOneCharacter) {
  CapturingLog log;
  TempDir dir;
  dir.Write("f.txt", "abcd\r\nabcdef\r\nok\r\n");
  CTxtFile4 file;
  ASSERT_TRUE(file.Initialize(4));
  ASSERT_TRUE(file.OpenForReadOnly(dir.File("f.txt")));
  for (const auto& [ok, line] :
       {std::pair{true, "abcd"}, {false, "abcd"}, {true, "f"}, {true, "ok"}}) {
    EXPECT_EQ(file.ReadTextLine(), ok) << line;
    EXPECT_STREQ(file.Line(), line);
  }
  EXPECT_TRUE(log.HasError("CTxtFile4::ReadTextLine has buffer overflow."));
}

TEST(TxtFile4Write, LinesAreWrittenLiterallyWithCrLfAtAPathOfAnyLength) {
  TempDir dir;
  std::string name;  // the whole path is kept, however long
  while (name.size() < 400) name += std::string(60, 'd') + "/";
  ASSERT_TRUE(std::filesystem::create_directories(dir.File(name)));
  name += "w.txt";
  CTxtFile4 file;
  ASSERT_TRUE(file.Initialize(64));
  ASSERT_TRUE(file.Create(dir.File(name)));
  EXPECT_TRUE(file.WriteLine("100%s done %d"));
  EXPECT_TRUE(file.WriteLine(""));
  ASSERT_TRUE(file.Close());
  ASSERT_TRUE(file.ReOpenForReadAppend(dir.File(name)));
  EXPECT_TRUE(file.WriteLine("more"));
  file.Close();
  EXPECT_EQ(file.Path(), dir.File(name));
  EXPECT_EQ(dir.Read(name), "100%s done %d\r\n\r\nmore\r\n");
}

TEST(TxtFile4Failures, MessagesGoToTheLogUnlessQuiet) {
  TempDir dir;
  CapturingLog log;
  CTxtFile4 file;
  EXPECT_FALSE(file.OpenForReadOnly(dir.File("x")));
  EXPECT_TRUE(log.HasError("CTxtFile4 object is not properly initialized."));
  ASSERT_TRUE(file.Initialize(8));
  EXPECT_FALSE(file.OpenForReadOnly(dir.File("missing")));
  EXPECT_TRUE(log.HasError("CTxtFile4::OpenForReadOnly cannot find its file."));
  log.Clear();
  EXPECT_FALSE(file.TryOpenForReadOnly(dir.File("missing")));  // trying writes nothing
  file.SetQuiet(true);
  EXPECT_FALSE(file.OpenForReadWrite(dir.File("missing")));
  EXPECT_TRUE(log.lines().empty());
}

}  // namespace

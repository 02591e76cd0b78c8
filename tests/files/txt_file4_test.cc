#include "files/txt_file4.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using snx::test::CapturingLog;
using snx::test::TempDir;

struct ReadAll {
  std::vector<std::string> lines;
  bool last_result = false;
  bool end_of_file = false;
};

ReadAll ReadLines(const std::string& path, int buffer = 255) {
  CTxtFile4 file;
  EXPECT_TRUE(file.Initialize(buffer));
  EXPECT_TRUE(file.OpenForReadOnly(path));
  ReadAll out;
  while ((out.last_result = file.ReadTextLine())) out.lines.push_back(file.Line());
  out.end_of_file = file.AtEndOfFile();
  return out;
}

TEST(TxtFile4Read, LineEndRules) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"crlf", "a\r\nbc\r\n", {"a", "bc"}},
      {"lf only", "one\ntwo\nthree\n", {"one", "two", "three"}},
      {"lf cr", "ab\n\rcd\n\r", {"ab", "cd"}},
      {"mixed", "x1\r\ny2\nz3\r\n", {"x1", "y2", "z3"}},
      {"lone cr is dropped", "a\rb\r\n", {"ab"}},
      {"last line without end", "first\r\nxy", {"first", "xy"}},
      {"one character last line is lost", "first\r\nx", {"first"}},
      {"empty lines read as empty", "a\r\n\r\nbb\n", {"a", "", "bb"}},
      {"empty file", "", {}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.Write("f.txt", c.bytes);
    const ReadAll got = ReadLines(dir.File("f.txt"));
    EXPECT_EQ(got.lines, c.lines) << c.name;
    EXPECT_FALSE(got.last_result) << c.name;
    EXPECT_TRUE(got.end_of_file) << c.name;
  }
}

TEST(TxtFile4Read, OverflowReturnsTheFirstPartAndLosesTheOverflowingCharacter) {
  CapturingLog log;
  TempDir dir;
  dir.Write("f.txt", "abcdef\r\nok\r\n");
  CTxtFile4 file;
  ASSERT_TRUE(file.Initialize(4));
  ASSERT_TRUE(file.OpenForReadOnly(dir.File("f.txt")));
  EXPECT_FALSE(file.ReadTextLine());
  EXPECT_STREQ(file.Line(), "abcd");
  EXPECT_TRUE(file.ReadFailed());
  EXPECT_TRUE(log.HasError("CTxtFile4::ReadTextLine has buffer overflow."));
  EXPECT_TRUE(file.ReadTextLine());
  EXPECT_STREQ(file.Line(), "f");
  EXPECT_TRUE(file.ReadTextLine());
  EXPECT_STREQ(file.Line(), "ok");
}

TEST(TxtFile4Read, ALineOfExactlyTheBufferSizeFits) {
  TempDir dir;
  dir.Write("f.txt", "abcd\r\n");
  const ReadAll got = ReadLines(dir.File("f.txt"), 4);
  EXPECT_EQ(got.lines, std::vector<std::string>{"abcd"});
}

TEST(TxtFile4Write, LinesAreWrittenLiterallyWithCrLf) {
  TempDir dir;
  CTxtFile4 file;
  ASSERT_TRUE(file.Initialize(64));
  ASSERT_TRUE(file.Create(dir.File("w.txt")));
  EXPECT_FALSE(file.IsOpen());  // Create does not set the open flag
  EXPECT_TRUE(file.WriteLine("100%s done %d"));
  EXPECT_TRUE(file.WriteLine(""));
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(dir.Read("w.txt"), "100%s done %d\r\n\r\n");
  ASSERT_TRUE(file.ReOpenForReadAppend(dir.File("w.txt")));
  EXPECT_TRUE(file.WriteLine("more"));
  file.Close();
  EXPECT_EQ(dir.Read("w.txt"), "100%s done %d\r\n\r\nmore\r\n");
}

TEST(TxtFile4Paths, KeepsAPathLongerThan255Characters) {
  TempDir dir;
  std::string folder = dir.path();
  while (folder.size() < 400) folder += "/" + std::string(60, 'd');
  ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
  const std::string path = folder + "/long.txt";
  CTxtFile4 file;
  ASSERT_TRUE(file.Initialize(16));
  ASSERT_TRUE(file.Create(path));
  file.WriteLine("deep");
  file.Close();
  EXPECT_EQ(file.Path(), path);
  ASSERT_TRUE(file.OpenForReadOnly(path));
  EXPECT_TRUE(file.ReadTextLine());
  EXPECT_STREQ(file.Line(), "deep");
}

TEST(TxtFile4Failures, MessagesGoToTheLogOrQuietlyElsewhere) {
  TempDir dir;
  {
    CapturingLog log;
    CTxtFile4 file;
    ASSERT_TRUE(file.Initialize(8));
    EXPECT_FALSE(file.OpenForReadOnly(dir.File("missing")));
    EXPECT_TRUE(log.HasError("CTxtFile4::OpenForReadOnly cannot find its file."));
    EXPECT_FALSE(file.TryOpenForReadOnly(dir.File("missing")));
    EXPECT_EQ(log.Errors().size(), 1u);  // trying writes nothing
    EXPECT_FALSE(file.ReadTextLine());
    EXPECT_TRUE(log.HasError("CTxtFile4::ReadTextLine called but file is not open."));
  }
  {
    CapturingLog log;
    CTxtFile4 quiet;
    quiet.SetQuiet(true);
    ASSERT_TRUE(quiet.Initialize(8));
    EXPECT_FALSE(quiet.OpenForReadWrite(dir.File("missing")));
    EXPECT_TRUE(log.lines().empty());
  }
  {
    CapturingLog log;
    CTxtFile4 uninitialized;
    EXPECT_FALSE(uninitialized.OpenForReadOnly(dir.File("x")));
    EXPECT_TRUE(log.HasError("CTxtFile4 object is not properly initialized."));
  }
}

}  // namespace

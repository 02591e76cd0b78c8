// The two text files: the plain one, and the enciphered one the settings are kept in.

#include <cstdint>

#include "files/crypto_txtfile.h"
#include "files/settings_file_writer.h"
#include "files/txt_file4.h"

namespace {

using snx::test::CapturingLog;
using snx::test::TempDir;
using Lines = std::vector<std::string>;

// FNV-1a of the bytes.
std::uint64_t Digest(const std::string& bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ULL;
  return hash;
}

// The file the writer makes of these lines.
std::string Written(const TempDir& dir, const Lines& lines) {
  snx::test::WriteSettings(dir, lines);
  return dir.Read("AutoSet.caf");
}

// A printable line of `length` characters that differs from line to line.
std::string Printable(int seed, int length) {
  std::string s;
  for (int i = 0; i < length; ++i) s += static_cast<char>(32 + (seed * 31 + i * 7) % 95);
  return s;
}

// Every line a fresh reader of the kind gets, which must read up to the end of the file.
template <class File = CCryptoTxtfile>
Lines ReadAll(const std::string& path, int line_size = CCryptoTxtfile::kSettingsLineSize) {
  File file;
  EXPECT_TRUE(file.Initialize(line_size));
  EXPECT_TRUE(file.OpenForReadOnly(path));
  Lines out;
  while (file.ReadTextLine()) out.push_back(file.Line());
  EXPECT_TRUE(file.AtEndOfFile() && !file.ReadFailed());
  return out;
}

TEST(CryptoTxtfileTest, EveryLineIsEncipheredAtItsOwnPositions) {
  TempDir dir;
  // Lines of every length up to the buffer's, so that lines straddle position 2000 and its later
  // repeats, and enough of them that the file is read in more than one block.
  Lines lines;
  for (int n = 0; n < 1200; ++n) lines.push_back(Printable(n, (n * 37) % 256));
  lines[7] = Printable(7, 255);  // positions 1785..2039 cross 2000
  // Files written by one version are read by the next: the bytes never change. Every position of
  // the key table is used, and a change of any key changes the bytes.
  EXPECT_EQ(Digest(Written(dir, lines)), 0xc8dbc8b309cc68deULL);
  EXPECT_EQ(ReadAll(dir.File("AutoSet.caf")), lines);
}

TEST(CryptoTxtfileTest, AppendRefusesALineItCannotCarryAndWritesNothingOfIt) {
  CapturingLog log;
  TempDir dir;
  CCryptoTxtfile file;
  ASSERT_TRUE(file.Initialize(CCryptoTxtfile::kSettingsLineSize));
  ASSERT_TRUE(file.Create(dir.File("s.caf")));
  ASSERT_TRUE(file.Append("[KEYS]"));
  for (const std::string& bad :
       {std::string("Password=ab\tcd"), std::string("a\nb"), std::string("a\x7f"),
        std::string("caf\xe9"), std::string(256, 'a')}) {
    EXPECT_FALSE(file.Append(bad)) << testing::PrintToString(bad);
  }
  EXPECT_EQ(log.Errors(), Lines(5, "CCryptoTxtfile::Append failed."));
  ASSERT_TRUE(file.Append("MinuteInterval=5"));
  ASSERT_TRUE(file.Close());
  // The lines that were written read back at their own positions.
  EXPECT_EQ(ReadAll(dir.File("s.caf")), (Lines{"[KEYS]", "MinuteInterval=5"}));
}

TEST(CryptoTxtfileTest, LineEndsAndTheLastLineFollowTheTextFileRules) {
  TempDir dir;
  // A lone LF inside a line is skipped (and does not count as a column), LF CR ends a line as
  // CR LF does, and a last line without a line end counts from two characters on.
  const std::string abc = Written(dir, {"abc", "de", "fg"});
  dir.Write("ends.caf", abc.substr(0, 2) + "\n" + abc.substr(2, 3) + abc.substr(5, 2) + "\n\r" +
                            abc.substr(9, 2));
  EXPECT_EQ(ReadAll(dir.File("ends.caf")), (Lines{"abc", "de", "fg"}));
  const std::string ab = Written(dir, {"ab", "z"});
  dir.Write("one.caf", ab.substr(0, ab.size() - 2));
  EXPECT_EQ(ReadAll(dir.File("one.caf")), (Lines{"ab"}));
  dir.Write("empty.caf", "");
  EXPECT_EQ(ReadAll(dir.File("empty.caf")), Lines{});
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
    EXPECT_EQ(ReadAll<CTxtFile4>(dir.File("f.txt"), 255), lines) << testing::PrintToString(bytes);
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
  EXPECT_EQ(file.Path(), dir.File(name));
  EXPECT_EQ(dir.Read(name), "100%s done %d\r\n\r\n");
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

#include "files/crypto_txtfile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "files/cipher_key_table.h"
#include "support/test_support.h"

namespace {

using snx::test::CapturingLog;
using snx::test::TempDir;

// The cipher written out plainly from its definition, to check the class against.
int RefKey(std::int64_t p) {
  const std::int64_t i = p <= 2000 ? p : p % 2000;
  return i < 1990 ? static_cast<unsigned char>(kCipherKeyTable[i]) : 0;
}
unsigned char RefEncipher(unsigned char x, std::int64_t p) {
  const int s = RefKey(p) + x;
  return static_cast<unsigned char>(s <= 192 ? s : s - 160);
}
std::string RefLine(const std::string& plain, int line, int size = 255) {
  std::string out;
  for (std::size_t m = 0; m < plain.size(); ++m) {
    out += static_cast<char>(RefEncipher(static_cast<unsigned char>(plain[m]),
                                         static_cast<std::int64_t>(line) * size + m));
  }
  return out;
}

// A printable line of `length` characters that differs from line to line.
std::string Printable(int seed, int length) {
  std::string s;
  for (int i = 0; i < length; ++i) s += static_cast<char>(32 + (seed * 31 + i * 7) % 95);
  return s;
}

struct Read {
  std::vector<std::string> lines;
  bool end_of_file = false;
  bool read_error = false;
};

Read ReadAll(const std::string& path, int size = 255) {
  CCryptoTxtfile file;
  EXPECT_TRUE(file.Initialize(size));
  EXPECT_TRUE(file.OpenForReadOnly(path));
  Read out;
  while (file.ReadTextLine()) out.lines.push_back(file.Line());
  out.end_of_file = file.AtEndOfFile();
  out.read_error = file.ReadFailed();
  return out;
}

bool WriteAll(const std::string& path, const std::vector<std::string>& lines) {
  CCryptoTxtfile file;
  bool ok = file.Initialize(CCryptoTxtfile::kSettingsLineSize) && file.Create(path);
  for (const auto& l : lines) ok = file.Append(l) && ok;
  return file.Close() && ok;
}

TEST(CipherTest, KeyTableNeverChanges) {
  // Files written with the table can only be read with the same table.
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (int i = 0; i < kCipherKeyTableLength; ++i) {
    const auto c = static_cast<unsigned char>(kCipherKeyTable[i]);
    ASSERT_TRUE(c >= 32 && c <= 126) << "index " << i;
    hash = (hash ^ c) * 0x100000001b3ULL;
  }
  EXPECT_EQ(kCipherKeyTable[kCipherKeyTableLength], '\0');
  EXPECT_EQ(hash, 0x38305ccba5c1e376ULL);
}

TEST(CipherTest, EveryPrintableCharacterSurvivesAtEveryKindOfPosition) {
  for (std::int64_t p : {0, 1, 1989, 1990, 1995, 1999, 2000, 2001, 2254, 3999, 4000, 10000}) {
    for (int x = 32; x <= 126; ++x) {
      const unsigned char e = CCryptoTxtfile::Encipher(static_cast<unsigned char>(x), p);
      ASSERT_EQ(e, RefEncipher(static_cast<unsigned char>(x), p)) << "p=" << p << " x=" << x;
      ASSERT_TRUE(e >= 32 && e <= 192) << "p=" << p << " x=" << x;
      ASSERT_EQ(CCryptoTxtfile::Decipher(e, p), x) << "p=" << p << " x=" << x;
    }
  }
}

TEST(CipherTest, KeysRepeatPastTwoThousandAndAreZeroPastTheTable) {
  EXPECT_EQ(CCryptoTxtfile::KeyAt(1995), 0);
  EXPECT_EQ(CCryptoTxtfile::Encipher('A', 1995), 'A');
  EXPECT_EQ(CCryptoTxtfile::KeyAt(2000), 0);
  EXPECT_EQ(CCryptoTxtfile::KeyAt(2001), CCryptoTxtfile::KeyAt(1));
  EXPECT_EQ(CCryptoTxtfile::KeyAt(4000), CCryptoTxtfile::KeyAt(0));
  EXPECT_NE(CCryptoTxtfile::KeyAt(4000), 0);
}

TEST(CryptoTxtfileTest, EveryLineIsEncipheredAtItsOwnPositions) {
  TempDir dir;
  // Lines of many lengths, so that lines straddle position 2000 and its later repeats, and
  // enough of them that the file is read in more than one block.
  std::vector<std::string> lines;
  for (int n = 0; n < 1200; ++n) lines.push_back(Printable(n, (n * 37) % 256));
  lines[3] = "";
  lines[7] = Printable(7, 255);  // positions 1785..2039 cross 2000
  ASSERT_TRUE(WriteAll(dir.File("a.caf"), lines));

  std::string expected;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    expected += RefLine(lines[n], static_cast<int>(n)) + "\r\n";
  }
  ASSERT_EQ(dir.Read("a.caf"), expected);

  const Read back = ReadAll(dir.File("a.caf"));
  EXPECT_EQ(back.lines, lines);
  EXPECT_TRUE(back.end_of_file);
  EXPECT_FALSE(back.read_error);
}

TEST(CryptoTxtfileTest, LinesOfTheBufferSizeFitAndLongerOnesOverflow) {
  CapturingLog log;
  TempDir dir;
  const std::string full = Printable(1, 255);
  ASSERT_TRUE(WriteAll(dir.File("ok.caf"), {full, "x"}));
  EXPECT_EQ(ReadAll(dir.File("ok.caf")).lines, (std::vector<std::string>{full, "x"}));

  // A line of 256 characters (as another writer might leave it) cannot be read as a line.
  dir.Write("long.caf", RefLine(Printable(2, 256), 0) + "\r\n");
  const Read back = ReadAll(dir.File("long.caf"));
  EXPECT_TRUE(back.lines.empty());
  EXPECT_TRUE(back.read_error);
  EXPECT_TRUE(log.HasError("CCryptoTxtfile::ReadTextLine has buffer overflow."));
}

TEST(CryptoTxtfileTest, AppendRefusesALineItCannotCarryAndWritesNothingOfIt) {
  struct Case {
    const char* name;
    std::string line;
  };
  const Case cases[] = {
      {"tab", "Password=ab\tcd"},
      {"newline", "a\nb"},
      {"delete", "a\x7f"},
      {"high byte", "caf\xe9"},
      {"longer than the line buffer", std::string(256, 'a')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CapturingLog log;
    TempDir dir;
    CCryptoTxtfile file;
    ASSERT_TRUE(file.Initialize(CCryptoTxtfile::kSettingsLineSize));
    ASSERT_TRUE(file.Create(dir.File("s.caf")));
    ASSERT_TRUE(file.Append("[KEYS]"));
    EXPECT_FALSE(file.Append(c.line));
    EXPECT_TRUE(log.HasError("CCryptoTxtfile::Append failed."));
    EXPECT_EQ(file.LineCounter(), 1);
    ASSERT_TRUE(file.Append("MinuteInterval=5"));
    ASSERT_TRUE(file.Close());
    // The lines that were written read back at their own positions.
    EXPECT_EQ(ReadAll(dir.File("s.caf")).lines,
              (std::vector<std::string>{"[KEYS]", "MinuteInterval=5"}));
  }
}

TEST(CryptoTxtfileTest, LineEndsAndTheLastLineFollowTheTextFileRules) {
  TempDir dir;
  // A lone LF inside a line is skipped (and does not count as a column), LF CR ends a line as
  // CR LF does, and a last line without a line end counts from two characters on.
  const std::string raw = RefLine("ab", 0) + "\n" +
                          std::string(1, static_cast<char>(RefEncipher('c', 2))) + "\r\n" +
                          RefLine("de", 1) + "\n\r" + RefLine("fg", 2);
  dir.Write("ends.caf", raw);
  Read back = ReadAll(dir.File("ends.caf"));
  EXPECT_EQ(back.lines, (std::vector<std::string>{"abc", "de", "fg"}));
  EXPECT_TRUE(back.end_of_file);

  dir.Write("one.caf", RefLine("ab", 0) + "\r\n" + RefLine("z", 1));
  back = ReadAll(dir.File("one.caf"));
  EXPECT_EQ(back.lines, (std::vector<std::string>{"ab"}));

  dir.Write("empty.caf", "");
  back = ReadAll(dir.File("empty.caf"));
  EXPECT_TRUE(back.lines.empty());
  EXPECT_TRUE(back.end_of_file);
}

}  // namespace

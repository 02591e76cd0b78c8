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
using Lines = std::vector<std::string>;

// The cipher written out plainly from its definition, to check the class against: keys repeat
// every 2000 positions past 2000, and are 0 past the end of the table.
unsigned char RefEncipher(unsigned char x, std::int64_t p) {
  const std::int64_t i = p <= 2000 ? p : p % 2000;
  const int s = (i < 1990 ? static_cast<unsigned char>(kCipherKeyTable[i]) : 0) + x;
  return static_cast<unsigned char>(s <= 192 ? s : s - 160);
}
std::string RefLine(const std::string& plain, int line) {
  std::string out;
  for (std::size_t m = 0; m < plain.size(); ++m) {
    out += static_cast<char>(RefEncipher(plain[m], static_cast<std::int64_t>(line) * 255 + m));
  }
  return out;
}

// A printable line of `length` characters that differs from line to line.
std::string Printable(int seed, int length) {
  std::string s;
  for (int i = 0; i < length; ++i) s += static_cast<char>(32 + (seed * 31 + i * 7) % 95);
  return s;
}

// Every line a fresh reader gets, which must read up to the end of the file.
Lines ReadAll(const std::string& path) {
  CCryptoTxtfile file;
  EXPECT_TRUE(file.Initialize(CCryptoTxtfile::kSettingsLineSize));
  EXPECT_TRUE(file.OpenForReadOnly(path));
  Lines out;
  while (file.ReadTextLine()) out.push_back(file.Line());
  EXPECT_TRUE(file.AtEndOfFile() && !file.ReadFailed());
  return out;
}

TEST(CipherTest, KeyTableNeverChanges) {
  // Files written with the table can only be read with the same table.
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (int i = 0; i < kCipherKeyTableLength; ++i) {
    hash = (hash ^ static_cast<unsigned char>(kCipherKeyTable[i])) * 0x100000001b3ULL;
  }
  EXPECT_EQ(hash, 0x38305ccba5c1e376ULL);
}

TEST(CryptoTxtfileTest, EveryLineIsEncipheredAtItsOwnPositions) {
  TempDir dir;
  // Lines of every length up to the buffer's, so that lines straddle position 2000 and its later
  // repeats, and enough of them that the file is read in more than one block.
  Lines lines;
  for (int n = 0; n < 1200; ++n) lines.push_back(Printable(n, (n * 37) % 256));
  lines[7] = Printable(7, 255);  // positions 1785..2039 cross 2000
  CCryptoTxtfile file;
  ASSERT_TRUE(file.Initialize(CCryptoTxtfile::kSettingsLineSize));
  ASSERT_TRUE(file.Create(dir.File("a.caf")));
  std::string expected;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    ASSERT_TRUE(file.Append(lines[n]));
    expected += RefLine(lines[n], static_cast<int>(n)) + "\r\n";
  }
  ASSERT_TRUE(file.Close());
  ASSERT_EQ(dir.Read("a.caf"), expected);
  EXPECT_EQ(ReadAll(dir.File("a.caf")), lines);
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
  dir.Write("ends.caf", RefLine("ab", 0) + "\n" + static_cast<char>(RefEncipher('c', 2)) + "\r\n" +
                            RefLine("de", 1) + "\n\r" + RefLine("fg", 2));
  EXPECT_EQ(ReadAll(dir.File("ends.caf")), (Lines{"abc", "de", "fg"}));
  dir.Write("one.caf", RefLine("ab", 0) + "\r\n" + RefLine("z", 1));
  EXPECT_EQ(ReadAll(dir.File("one.caf")), (Lines{"ab"}));
  dir.Write("empty.caf", "");
  EXPECT_EQ(ReadAll(dir.File("empty.caf")), Lines{});
}

}  // namespace

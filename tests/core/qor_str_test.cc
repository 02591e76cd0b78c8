#include "core/qor_str.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

using IntPairs = std::initializer_list<std::pair<int, int>>;
using TextPairs = std::initializer_list<std::pair<const char*, const char*>>;

CQorStr Of(int length) { return CQorStr(std::string_view(std::string(length, 'a'))); }

TEST(QorStrAssign, GrowthStepsBufferReuseAndTheLimit) {
  for (const auto& [length, capacity] :
       IntPairs{{0, 260}, {1, 8}, {4, 8}, {20, 40}, {33, 66}, {34, 50}, {2046, 2062}}) {
    EXPECT_EQ(Of(length).Capacity(), capacity) << "length " << length;
  }
  // The buffer is kept while the text and two bytes stay below its size.
  CQorStr s = Of(20);
  s.Assign(std::string(37, 'b'));
  EXPECT_EQ(s.Capacity(), 40);
  s.Assign(std::string(38, 'c'));
  EXPECT_EQ(s.Capacity(), 54);
  EXPECT_EQ(s.View(), std::string(38, 'c'));
  EXPECT_FALSE(s.Assign(std::string(2047, 'y')));
  EXPECT_EQ(s.View(), std::string(38, 'c')) << "a failed Assign keeps the old text";
}

TEST(QorStrAssign, EmptyViewsAndTheTextItselfAreSafeSources) {
  CQorStr s{std::string_view()};
  EXPECT_TRUE(s.Append(std::string_view()));
  EXPECT_TRUE(s.Assign(std::string_view()));
  EXPECT_TRUE(s.IsEmpty());
  s.Assign("ab");
  s.Append(s.View());
  EXPECT_EQ(s.View(), "abab");
}

TEST(QorStrAppend, GrowsToExactly2048AndNeverPast2046Characters) {
  CQorStr s = Of(20);                           // capacity 40
  EXPECT_TRUE(s.Append(std::string(18, 'b')));  // 20 + 18 + 2 = 40 fits in place
  EXPECT_EQ(s.Capacity(), 40);
  EXPECT_TRUE(s.Append('c'));
  EXPECT_EQ(s.Capacity(), 2048);
  EXPECT_EQ(s.View().substr(36), "bbc");

  CQorStr full = Of(2046);  // its 2062-byte buffer has room, the length limit does not
  EXPECT_FALSE(full.Append('y'));
  EXPECT_EQ(full.Length(), 2046);

  CQorStr near = Of(2000);                          // capacity 2016
  EXPECT_TRUE(near.Append(std::string(14, 'y')));   // 2016 fits in place
  EXPECT_FALSE(near.Append(std::string(32, 'z')));  // 2048 would reach the limit
  EXPECT_EQ(near.Length(), 2014);
}

TEST(QorStrTrim, OnlyBytes33To125AreVisible) {
  for (const auto& [text, trimmed] : TextPairs{
           {"  a~ ", "a"}, {"     ", ""}, {"\t\x80x y\x7f\xff", "x y"}, {" \r\nkeep", "keep"}}) {
    CQorStr s(text);
    s.Trim();
    EXPECT_EQ(s.View(), trimmed) << text;
  }
}

TEST(QorStrCompare, FindFoldsOnlyLettersAndIsSameComparesTrimmedLengths) {
  EXPECT_EQ(CQorStr("aaab").Find("aab"), 1);
  EXPECT_EQ(CQorStr("abc").Find("B"), 1);
  EXPECT_EQ(CQorStr("abc").Find("B", true), -1);
  EXPECT_EQ(CQorStr("abc").Find(""), -1);
  EXPECT_EQ(CQorStr("abc").Find("abcd"), -1);
  EXPECT_EQ(CQorStr("").Find("a"), -1);
  EXPECT_EQ(CQorStr("[x]{y}").Find("{"), 3);  // "[" and "{" differ by 0x20 but are no letters
  EXPECT_EQ(CQorStr("[x]{y}").Find("{Y"), 3);
  EXPECT_TRUE(CQorStr(" 1 ").IsSame("1"));
  EXPECT_FALSE(CQorStr("10").IsSame("1"));
  EXPECT_TRUE(CQorStr("").IsSame("   "));
  EXPECT_TRUE(CQorStr(" t ").IsSame("T"));
  EXPECT_FALSE(CQorStr("True").IsSame("T"));
  EXPECT_FALSE(CQorStr("t").IsSame("T", true));
}

TEST(QorStrSubstrings, LeftMidAndKeepRight) {
  CQorStr s("hello world");
  EXPECT_STREQ(s.Left(5), "hello");
  EXPECT_STREQ(s.Left(50), "hello world");
  EXPECT_STREQ(s.Left(-1), "");
  EXPECT_STREQ(s.Mid(6), "world");
  EXPECT_STREQ(s.Mid(9, 10), "ld");
  EXPECT_STREQ(s.Mid(11), "");
  EXPECT_STREQ(s.Mid(3, 0), "");
  EXPECT_STREQ(s.Mid(3, -1), "");
  CQorStr long_text = Of(600);  // results are cut to the 259 characters of the result area
  EXPECT_EQ(std::string(long_text.Mid(10)).size(), 259u);
  EXPECT_EQ(std::string(long_text.Left(400)).size(), 259u);
  EXPECT_STREQ(s.KeepRight(5), "world");
  EXPECT_STREQ(s.KeepRight(50), "world");
}

TEST(QorStrSplitOff, WalksAListItemByItem) {
  CQorStr path("C:\\a\\\\b");
  CQorStr token;
  for (const char* expected : {"C:", "a", "", "b"}) {  // a doubled separator gives an empty item
    path.SplitOff('\\', token);
    EXPECT_EQ(token.View(), expected);
  }
  EXPECT_EQ(path.View(), "");
}

TEST(QorStrNumbers, ToIntFollowsTheDecimalConversionAndClamps) {
  for (const char* zero : {"abc", "x7", ""}) EXPECT_EQ(CQorStr(zero).ToInt(), 0) << zero;
  EXPECT_EQ(CQorStr(" 12").ToInt(), 12);
  EXPECT_EQ(CQorStr("-5").ToInt(), -5);
  EXPECT_EQ(CQorStr("12abc").ToInt(), 12);
  EXPECT_EQ(CQorStr("+8").ToInt(), 8);
  EXPECT_EQ(CQorStr("2147483647").ToInt(), INT32_MAX);
  EXPECT_EQ(CQorStr("99999999999").ToInt(), INT32_MAX);
  EXPECT_EQ(CQorStr("-99999999999").ToInt(), INT32_MIN);
}

TEST(QorStrBytes, UpperCaseEscapesAndWideTexts) {
  CQorStr s("ab{}z\xe9");
  s.MakeUpper();
  EXPECT_EQ(s.View(), "AB{}Z\xe9");
  CQorStr path("C:/a\\b");
  EXPECT_STREQ(path.EscapeSlashes(), "C:\\\\a\\\\b");
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "\\dir";
  CQorStr long_path{std::string_view(deep)};  // never cut
  EXPECT_EQ(std::string(long_path.EscapeSlashes()).size(), 300u * 5);
  s.AssignBstr(u"ab\u00e9\u4e2d");
  EXPECT_EQ(s.View(), "ab\xe9?");
}

}  // namespace

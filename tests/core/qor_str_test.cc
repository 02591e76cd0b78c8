#include "core/qor_str.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

using TextPairs = std::initializer_list<std::pair<const char*, const char*>>;

CQorStr Of(int length) { return CQorStr(std::string_view(std::string(length, 'a'))); }

TEST(QorStrLimit, AssignAndAppendStopBelow2047CharactersAndKeepTheText) {
  CQorStr s = Of(20);
  EXPECT_TRUE(s.Append(std::string(18, 'b')));
  EXPECT_TRUE(s.Append('c'));  // grows, keeping what was there
  EXPECT_EQ(s.View(), std::string(20, 'a') + std::string(18, 'b') + "c");
  EXPECT_FALSE(s.Assign(std::string(2047, 'y')));
  EXPECT_EQ(s.Length(), 39) << "a failed Assign keeps the old text";
  CQorStr full = Of(2046);
  EXPECT_FALSE(full.Append('y'));
  EXPECT_EQ(full.Length(), 2046);
  CQorStr near = Of(2000);
  EXPECT_TRUE(near.Append(std::string(14, 'y')));
  EXPECT_FALSE(near.Append(std::string(32, 'z')));
  EXPECT_EQ(near.Length(), 2014);
  // Empty views and the text itself are safe sources.
  CQorStr e{std::string_view()};
  EXPECT_TRUE(e.Append(std::string_view()) && e.Assign(std::string_view()) && e.IsEmpty());
  e.Assign("ab");
  e.Append(e.View());
  EXPECT_EQ(e.View(), "abab");
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
  EXPECT_EQ(CQorStr("abc").Find("abcd"), -1);
  EXPECT_EQ(CQorStr("[x]{y}").Find("{"), 3);  // "[" and "{" differ by 0x20 but are no letters
  EXPECT_EQ(CQorStr("[x]{y}").Find("{Y"), 3);
  EXPECT_TRUE(CQorStr(" 1 ").IsSame("1"));
  EXPECT_FALSE(CQorStr("10").IsSame("1"));
  EXPECT_TRUE(CQorStr("").IsSame("   "));
  EXPECT_TRUE(CQorStr(" t ").IsSame("T"));
  EXPECT_FALSE(CQorStr("True").IsSame("T"));
  EXPECT_FALSE(CQorStr("t").IsSame("T", true));
  // A pattern longer than any string stands for an empty one.
  EXPECT_TRUE(CQorStr(" ").IsSame(std::string(3000, 'a')));
  EXPECT_FALSE(CQorStr("a").IsSame(std::string(3000, 'a')));
}

TEST(QorStrSubstrings, LeftMidAndKeepRight) {
  CQorStr s("hello world");
  EXPECT_STREQ(s.Left(50), "hello world");
  EXPECT_STREQ(s.Left(-1), "");
  EXPECT_STREQ(s.Mid(9, 10), "ld");
  EXPECT_STREQ(s.Mid(11), "");
  EXPECT_STREQ(s.Mid(3, -1), "");
  CQorStr long_text = Of(600);  // results are cut to the 259 characters of the result area
  EXPECT_EQ(std::string(long_text.Mid(10)).size(), 259u);
  EXPECT_EQ(std::string(long_text.Left(400)).size(), 259u);
  EXPECT_STREQ(s.KeepRight(5), "world");  // in place
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
  EXPECT_EQ(CQorStr(" 12abc").ToInt(), 12);
  EXPECT_EQ(CQorStr("+8").ToInt(), 8);
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

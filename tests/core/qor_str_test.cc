#include "core/qor_str.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(QorStrAssign, LimitIs2046AndAFailedAssignKeepsTheOldText) {
  CQorStr s("keep");
  EXPECT_TRUE(s.Assign(std::string(2046, 'x')));
  EXPECT_EQ(s.Length(), 2046);
  s.Assign("keep");
  EXPECT_FALSE(s.Assign(std::string(2047, 'y')));
  EXPECT_STREQ(s.GetBuffer(), "keep");
}

TEST(QorStrAssign, GrowthStepsOfAFreshString) {
  struct Case {
    int length;
    int capacity;
  };
  for (const Case c : {Case{1, 8}, Case{3, 8}, Case{4, 8}, Case{20, 40}, Case{33, 66},
                       Case{34, 50}, Case{40, 56}, Case{2046, 2062}}) {
    CQorStr s(std::string_view(std::string(c.length, 'a')));
    EXPECT_EQ(s.Capacity(), c.capacity) << "length " << c.length;
    EXPECT_EQ(s.Length(), c.length);
  }
  CQorStr empty;
  EXPECT_EQ(empty.Capacity(), 260);
}

TEST(QorStrAssign, ReusesTheBufferOnlyWhileTheTextAndTwoBytesFitBelowIt) {
  CQorStr s(std::string_view(std::string(20, 'a')));  // capacity 40
  ASSERT_EQ(s.Capacity(), 40);
  s.Assign(std::string(37, 'b'));  // 39 < 40: stays
  EXPECT_EQ(s.Capacity(), 40);
  s.Assign(std::string(38, 'c'));  // 40 is not below 40: new buffer of 38 + 16
  EXPECT_EQ(s.Capacity(), 54);
  EXPECT_EQ(s.View(), std::string(38, 'c'));
  s.Assign("");
  EXPECT_EQ(s.Capacity(), 54);
  EXPECT_TRUE(s.IsEmpty());
}

TEST(QorStrAssign, AnEmptyViewWithoutDataIsTheEmptyText) {
  CQorStr s{std::string_view()};
  EXPECT_EQ(s.Capacity(), 260);
  EXPECT_TRUE(s.Append(std::string_view()));
  EXPECT_TRUE(s.Assign(std::string_view()));
  EXPECT_TRUE(s.IsEmpty());
}

TEST(QorStrAssign, AssigningAPieceOfItselfIsSafe) {
  CQorStr s("abcdefghijklmnop");
  s.Assign(s.View().substr(4));
  EXPECT_EQ(s.View(), "efghijklmnop");
  CQorStr t("0123456789");
  t.Assign(std::string_view(t.GetBuffer(), 10));
  EXPECT_EQ(t.View(), "0123456789");
}

TEST(QorStrAppend, GrowsToExactly2048AndStopsAtTheLimit) {
  CQorStr s(std::string_view(std::string(20, 'a')));  // capacity 40
  EXPECT_TRUE(s.Append(std::string(18, 'b')));       // 20 + 18 + 2 = 40 fits in place
  EXPECT_EQ(s.Capacity(), 40);
  EXPECT_TRUE(s.Append('c'));  // does not fit: moves to a 2048-byte buffer
  EXPECT_EQ(s.Capacity(), 2048);
  EXPECT_EQ(s.Length(), 39);
  EXPECT_EQ(s.View().substr(36), "bbc");

  CQorStr full(std::string_view(std::string(2046, 'x')));
  EXPECT_FALSE(full.Append('y'));
  EXPECT_EQ(full.Length(), 2046);

  CQorStr near(std::string_view(std::string(2000, 'x')));  // capacity 2016
  EXPECT_TRUE(near.Append(std::string(14, 'y')));         // 2016 fits in place
  EXPECT_FALSE(near.Append(std::string(32, 'z')));        // 2048 would reach the limit
  EXPECT_EQ(near.Length(), 2014);
}

TEST(QorStrAppend, AppendingItselfDoublesTheText) {
  CQorStr s("ab");
  s.Append(s.View());
  EXPECT_EQ(s.View(), "abab");
}

TEST(QorStrTrim, OnlyBytes33To125AreVisible) {
  CQorStr s("  a~ ");
  s.Trim();
  EXPECT_EQ(s.View(), "a");
  CQorStr spaces("     ");
  spaces.Trim();
  EXPECT_EQ(spaces.View(), "");
  CQorStr high("\t\x80x y\x7f\xff");
  high.Trim();
  EXPECT_EQ(high.View(), "x y");
  CQorStr left(" \r\nkeep ");
  left.TrimLeft();
  EXPECT_EQ(left.View(), "keep ");
  left.TrimRight();
  EXPECT_EQ(left.View(), "keep");
}

TEST(QorStrFind, FoldsOnlyLettersUnlessCaseIsAskedFor) {
  CQorStr s("aaab");
  EXPECT_EQ(s.Find("aab"), 1);
  CQorStr abc("abc");
  EXPECT_EQ(abc.Find("B"), 1);
  EXPECT_EQ(abc.Find("B", true), -1);
  EXPECT_EQ(abc.Find(""), -1);
  EXPECT_EQ(abc.Find("abcd"), -1);
  EXPECT_EQ(abc.Find("bc"), 1);
  CQorStr empty("");
  EXPECT_EQ(empty.Find("a"), -1);
  CQorStr symbols("[x]{y}");
  EXPECT_EQ(symbols.Find("{"), 3);  // "[" and "{" differ by 0x20 but are not letters
  EXPECT_EQ(symbols.Find("{Y"), 3);
}

TEST(QorStrIsSame, ComparesTrimmedLengthsAfterAFind) {
  EXPECT_TRUE(CQorStr(" 1 ").IsSame("1"));
  EXPECT_FALSE(CQorStr("10").IsSame("1"));
  EXPECT_TRUE(CQorStr("").IsSame("   "));
  EXPECT_TRUE(CQorStr(" t ").IsSame("T"));
  EXPECT_FALSE(CQorStr("True").IsSame("T"));
  EXPECT_FALSE(CQorStr("t").IsSame("T", true));
  EXPECT_TRUE(CQorStr("Restart").IsSame("RESTART"));
}

TEST(QorStrSubstrings, LeftMidAndKeepRight) {
  CQorStr s("hello world");
  EXPECT_STREQ(s.Left(5), "hello");
  EXPECT_STREQ(s.Left(50), "hello world");
  EXPECT_STREQ(s.Left(-1), "");
  EXPECT_STREQ(s.Mid(6), "world");
  EXPECT_STREQ(s.Mid(6, 3), "wor");
  EXPECT_STREQ(s.Mid(9, 10), "ld");
  EXPECT_STREQ(s.Mid(11), "");
  EXPECT_STREQ(s.Mid(3, 0), "");
  CQorStr long_text(std::string_view(std::string(600, 'q')));
  EXPECT_EQ(std::string(long_text.Mid(10)).size(), 259u);  // the result area holds 259
  EXPECT_EQ(std::string(long_text.Left(400)).size(), 259u);
  EXPECT_STREQ(s.KeepRight(5), "world");
  EXPECT_EQ(s.View(), "world");
  EXPECT_STREQ(s.KeepRight(50), "world");
}

TEST(QorStrSplitOff, WalksAListItemByItem) {
  CQorStr s("x.y.z");
  CQorStr token;
  s.SplitOff('.', token);
  EXPECT_EQ(token.View(), "x");
  EXPECT_EQ(s.View(), "y.z");
  CQorStr whole("xyz");
  whole.SplitOff('.', token);
  EXPECT_EQ(token.View(), "xyz");
  EXPECT_EQ(whole.View(), "");
  CQorStr path("C:\\a\\\\b");
  path.SplitOff('\\', token);
  EXPECT_EQ(token.View(), "C:");
  path.SplitOff('\\', token);
  EXPECT_EQ(token.View(), "a");
  path.SplitOff('\\', token);
  EXPECT_EQ(token.View(), "");  // a doubled separator yields an empty component
  EXPECT_EQ(path.View(), "b");
}

TEST(QorStrNumbers, ToIntFollowsTheDecimalConversionAndClamps) {
  struct Case {
    const char* text;
    int value;
  };
  for (const Case c : {Case{"abc", 0}, Case{" 12", 12}, Case{"-5", -5}, Case{"x7", 0},
                       Case{"", 0}, Case{"12abc", 12}, Case{"+8", 8},
                       Case{"99999999999", 2147483647}, Case{"-99999999999", -2147483647 - 1},
                       Case{"2147483647", 2147483647}}) {
    EXPECT_EQ(CQorStr(c.text).ToInt(), c.value) << c.text;
  }
  EXPECT_TRUE(CQorStr("a1").IsNumber());
  EXPECT_FALSE(CQorStr("abc").IsNumber());
  CQorStr n;
  n.SetInt(-2147483647 - 1);
  EXPECT_EQ(n.View(), "-2147483648");
  n.SetUnsigned(4294967295u);
  EXPECT_EQ(n.View(), "4294967295");
}

TEST(QorStrMisc, MakeUpperTouchesOnlyLetters) {
  CQorStr s("ab{}z\xe9");
  s.MakeUpper();
  EXPECT_EQ(s.View(), "AB{}Z\xe9");
}

TEST(QorStrEscapeSlashes, DoublesEverySeparatorAndNeverCuts) {
  CQorStr s("C:/a\\b");
  EXPECT_STREQ(s.EscapeSlashes(), "C:\\\\a\\\\b");
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "\\dir";
  CQorStr long_path{std::string_view(deep)};
  EXPECT_EQ(std::string(long_path.EscapeSlashes()).size(), 300u * 5);
}

TEST(QorStrBstr, BytesBeyondTheCodePageBecomeQuestionMarks) {
  CQorStr s;
  s.AssignBstr(u"ab\u00e9\u4e2d");
  EXPECT_EQ(s.View(), "ab\xe9?");
}

}  // namespace

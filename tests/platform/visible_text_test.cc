#include "platform/visible_text.h"

#include <gtest/gtest.h>

namespace snx::platform {
namespace {

TEST(VisibleTextTest, EscapesControlCharactersAndKeepsTheRest) {
  EXPECT_EQ(VisibleText("C:\\Tools\\go.exe caf\xc3\xa9"), "C:\\Tools\\go.exe caf\xc3\xa9");
  EXPECT_EQ(VisibleText("a\x1b[2Jb\a"), "a\\x1b[2Jb\\x07");
  EXPECT_EQ(VisibleText(std::string_view("x\0y\x7f", 4)), "x\\x00y\\x7f");
  EXPECT_EQ(VisibleText("one\r\ntwo\tthree"), "one\\r\\ntwo\\tthree");
  EXPECT_TRUE(IsVisibleText("plain text"));
  EXPECT_FALSE(IsVisibleText("two\nlines"));
}

}  // namespace
}  // namespace snx::platform

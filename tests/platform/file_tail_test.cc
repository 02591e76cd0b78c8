// Reading the end of a growing file.

#include "platform/file_tail.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/test_support.h"

namespace snx::platform {
namespace {

TEST(FileTailTest, ReadsTheLastBytesOnlyAndNeverWaitsOnAPipe) {
  test::TempDir dir;
  dir.Write("big", std::string(100000, 'x') + "end\n");
  const auto tail = ReadFileTail(dir.File("big"), 4096);
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail->size(), 4096u);
  EXPECT_EQ(tail->substr(4092), "end\n");
  dir.Write("small", "ab");
  EXPECT_EQ(ReadFileTail(dir.File("small"), 4096), "ab");

  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
  std::string why;
  EXPECT_FALSE(ReadFileTail(dir.File("pipe"), 4096, &why));
  EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
  EXPECT_FALSE(ReadFileTail(dir.File("missing"), 4096, &why));
  EXPECT_NE(why.find("cannot open"), std::string::npos) << why;
}

}  // namespace
}  // namespace snx::platform

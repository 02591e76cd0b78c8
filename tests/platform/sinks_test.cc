#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "platform/debug_sink.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

// What `write` sends to fd 2.
std::string StderrOf(const std::function<void()>& write) {
  test::TempDir dir;
  std::fflush(stderr);
  const int saved = ::dup(2);
  const int fd = ::open(dir.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, 2);
  ::close(fd);
  write();
  ::dup2(saved, 2);
  ::close(saved);
  return dir.Read("stderr");
}

TEST(DebugSinkTest, WritesLinesToStderrOnlyWhenSnxDebugIsSet) {
  const auto write = [] {
    DefaultFacility<DebugSink>().Write("thread started");
    DefaultFacility<DebugSink>().Write("ends with newline\n");
  };
  for (const char* off : {static_cast<const char*>(nullptr), ""}) {
    test::ScopedEnv env("SNX_DEBUG", off);
    EXPECT_EQ(StderrOf(write), "");
  }
  test::ScopedEnv env("SNX_DEBUG", "1");
  EXPECT_EQ(StderrOf(write), "thread started\nends with newline\n");
}

}  // namespace
}  // namespace snx::platform

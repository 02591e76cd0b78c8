#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/debug_sink.h"
#include "platform/message_sink.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

// Sends fd 2 to a file for the lifetime of the guard.
class StderrToFile {
 public:
  explicit StderrToFile(const std::string& path) : path_(path) {
    std::fflush(stderr);
    saved_ = ::dup(2);
    FILE* f = std::fopen(path.c_str(), "wb");
    ::dup2(::fileno(f), 2);
    std::fclose(f);
  }
  ~StderrToFile() { Restore(); }
  std::string Finish() {
    Restore();
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  std::string path_;
  int saved_ = -1;
};

TEST(DebugSinkTest, WritesLinesToStderrOnlyWhenSnxDebugIsSet) {
  test::TempDir dir;
  {
    test::ScopedEnv env("SNX_DEBUG", nullptr);
    StderrToFile capture(dir.File("quiet"));
    DefaultFacility<DebugSink>().Write("dropped");
    EXPECT_EQ(capture.Finish(), "");
  }
  {
    test::ScopedEnv env("SNX_DEBUG", "1");
    StderrToFile capture(dir.File("loud"));
    DefaultFacility<DebugSink>().Write("thread started");
    DefaultFacility<DebugSink>().Write("ends with newline\n");
    EXPECT_EQ(capture.Finish(), "thread started\nends with newline\n");
  }
}

TEST(MessageSinkTest, RealSinkReturnsAtOnceWithTheBoxOnStderr) {
  test::TempDir dir;
  StderrToFile capture(dir.File("box"));
  DefaultFacility<MessageSink>().Show("SNXSVC", "Cannot open the settings file");
  EXPECT_EQ(capture.Finish(), "SNXSVC: Cannot open the settings file\n");
}

}  // namespace
}  // namespace snx::platform

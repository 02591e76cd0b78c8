// Counter paths of the process counters, built and read back.

#include "text/counter_path.h"

#include <gtest/gtest.h>

namespace snx::platform {
namespace {

TEST(CounterPathTest, BuildsAndReadsBackEveryCounter) {
  for (int i = 0; i < kProcessCounterCount; ++i) {
    const std::string path = BuildCounterPath("DBHOST", "server", ProcessCounterAt(i));
    const auto parsed = ParseCounterPath(path);
    ASSERT_TRUE(parsed) << path;
    EXPECT_EQ(parsed->machine, "DBHOST");
    EXPECT_EQ(parsed->stem, "server");
    EXPECT_EQ(parsed->counter, ProcessCounterAt(i));
  }
  EXPECT_EQ(BuildCounterPath("WEB1", "server", ProcessCounter::kElapsedTime),
            R"(\\WEB1\Process(server)\Elapsed Time)");
}

TEST(CounterPathTest, RefusesMalformedPaths) {
  for (const char* bad : {"", R"(\\)", R"(\\WEB1)", R"(\WEB1\Process(a)\Elapsed Time)",
                          R"(\\\Process(a)\Elapsed Time)", R"(\\W\Process()\Elapsed Time)",
                          R"(\\W\Thread(a)\Elapsed Time)", R"(\\W\Process(a)\Handle Count)",
                          R"(\\W\Process(a(b)\Elapsed Time)", R"(\\W\Process(a)\Elapsed Time )",
                          "\\\\W\\Process(a\x01)\\Elapsed Time"}) {
    EXPECT_FALSE(ParseCounterPath(bad)) << bad;
  }
  EXPECT_TRUE(ParseCounterPath(R"(\\w\PROCESS(a)\io data bytes/SEC)"));
}

}  // namespace
}  // namespace snx::platform

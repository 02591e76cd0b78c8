// The pure texts: counter paths of the process counters, and the control protocol's lines.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "text/control_protocol.h"
#include "text/counter_path.h"

namespace snx::platform {
namespace {

using Words = std::vector<std::string>;

TEST(CounterPathTest, BuildsAndReadsBackEveryCounter) {
  for (int i = 0; i < kProcessCounterCount; ++i) {
    const std::string path = BuildCounterPath("DBHOST", "server", ProcessCounterAt(i));
    const auto parsed = ParseCounterPath(path);
    ASSERT_TRUE(parsed) << path;
    EXPECT_EQ(std::tuple(parsed->machine, parsed->stem, parsed->counter),
              std::tuple("DBHOST", "server", ProcessCounterAt(i)));
  }
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

// The command socket's request and answer lines.
TEST(ControlProtocol, RequestLines) {
  const std::pair<std::string, ControlRequest> cases[] = {
      {"OpsCommand 1000", {ControlMethod::kOpsCommand, 1000}},
      {"opscommand -1\r", {ControlMethod::kOpsCommand, -1}},
      {"GETSTRINGRESULT +1012", {ControlMethod::kGetStringResult, 1012}},
      {"OpsCommand 2147483647", {ControlMethod::kOpsCommand, 2147483647}},
  };
  for (const auto& [line, want] : cases) EXPECT_EQ(ParseControlRequest(line), want) << line;
  // Past 32 bits, odd blanks and signs, unknown methods, a NUL and overlong lines say why.
  for (const std::string& bad :
       Words{"OpsCommand 2147483648", "OpsCommand  1000", "OpsCommand 1000 ", "OpsCommand 10x",
             "OpsCommand", "OpsCommand +", "OpsCommand ++5", "Release 1", "",
             std::string("OpsCommand 1\0", 13), "OpsCommand " + std::string(200, '1')}) {
    std::string why;
    EXPECT_EQ(ParseControlRequest(bad, &why), std::nullopt) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  const ControlRequest r{ControlMethod::kGetStringResult, 1013};
  EXPECT_EQ(ParseControlRequest(FormatControlRequest(r)), r);
}

TEST(ControlProtocol, AnswersKeepToOneVisibleLine) {
  const ControlAnswer number = ParseControlAnswer(AnswerInteger(-1));
  EXPECT_EQ(std::tuple(number.kind, number.number), std::tuple(AnswerKind::kInteger, -1));
  const std::string text = AnswerText("GO MODE\n\x1b[2J http://x/");
  EXPECT_EQ(text.find_first_of("\n\r\x1b"), std::string::npos);
  EXPECT_EQ(ParseControlAnswer(text).kind, AnswerKind::kText);
  EXPECT_EQ(ParseControlAnswer("TEXT ").text, "");
  EXPECT_EQ(ParseControlAnswer(AnswerNone()).kind, AnswerKind::kNone);
  EXPECT_EQ(AnswerText(std::string(10000, 'a')).size(), kMaxAnswerLine);
  const ControlAnswer error = ParseControlAnswer(AnswerError("unknown method"));
  EXPECT_EQ(std::tuple(error.kind, error.text), std::tuple(AnswerKind::kError, "unknown method"));
  for (const char* odd : {"OK", "OK x", "HELLO", "OK 99999999999"}) {
    EXPECT_EQ(ParseControlAnswer(odd).kind, AnswerKind::kError) << odd;
  }
}

}  // namespace
}  // namespace snx::platform

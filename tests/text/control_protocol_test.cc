// The command socket's request and answer lines.

#include "text/control_protocol.h"

#include <gtest/gtest.h>

namespace snx::platform {
namespace {

TEST(ControlProtocol, RequestLines) {
  struct Case {
    std::string line;
    std::optional<ControlRequest> want;
  };
  const Case cases[] = {
      {"OpsCommand 1000", ControlRequest{ControlMethod::kOpsCommand, 1000}},
      {"opscommand -1\r", ControlRequest{ControlMethod::kOpsCommand, -1}},
      {"GETSTRINGRESULT +1012", ControlRequest{ControlMethod::kGetStringResult, 1012}},
      {"OpsCommand 2147483647", ControlRequest{ControlMethod::kOpsCommand, 2147483647}},
      {"OpsCommand 2147483648", std::nullopt},  // past 32 bits
      {"OpsCommand  1000", std::nullopt},
      {"OpsCommand 1000 ", std::nullopt},
      {"OpsCommand 10x", std::nullopt},
      {"OpsCommand", std::nullopt},
      {"OpsCommand +", std::nullopt},
      {"OpsCommand ++5", std::nullopt},
      {"Release 1", std::nullopt},
      {"", std::nullopt},
      {std::string("OpsCommand 1\0", 13), std::nullopt},
      {"OpsCommand " + std::string(200, '1'), std::nullopt},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(ParseControlRequest(c.line, &why), c.want) << c.line;
    if (!c.want) {
      EXPECT_FALSE(why.empty()) << c.line;
    }
  }
  const ControlRequest r{ControlMethod::kGetStringResult, 1013};
  EXPECT_EQ(ParseControlRequest(FormatControlRequest(r)), r);
}

TEST(ControlProtocol, AnswersKeepToOneVisibleLine) {
  EXPECT_EQ(ParseControlAnswer(AnswerInteger(-1)).number, -1);
  EXPECT_EQ(ParseControlAnswer(AnswerInteger(-1)).kind, AnswerKind::kInteger);
  const std::string text = AnswerText("GO MODE\n\x1b[2J http://x/");
  EXPECT_EQ(text.find_first_of("\n\r\x1b"), std::string::npos);
  EXPECT_EQ(ParseControlAnswer(text).kind, AnswerKind::kText);
  EXPECT_EQ(ParseControlAnswer("TEXT ").text, "");
  EXPECT_EQ(ParseControlAnswer(AnswerNone()).kind, AnswerKind::kNone);
  EXPECT_EQ(AnswerText(std::string(10000, 'a')).size(), kMaxAnswerLine);
  const ControlAnswer error = ParseControlAnswer(AnswerError("unknown method"));
  EXPECT_EQ(error.kind, AnswerKind::kError);
  EXPECT_EQ(error.text, "unknown method");
  for (const char* odd : {"OK", "OK x", "HELLO", "OK 99999999999"}) {
    EXPECT_EQ(ParseControlAnswer(odd).kind, AnswerKind::kError) << odd;
  }
}

}  // namespace
}  // namespace snx::platform

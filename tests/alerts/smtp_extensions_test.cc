// What EHLO answers offer, and the base64 of the login.

#include "alerts/smtp_extensions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using snx::alerts::Base64Decode;
using snx::alerts::Base64Encode;

TEST(SmtpExtensionsTest, EhloAnswers) {
  const struct {
    std::vector<std::string> lines;
    bool starttls, plain, login;
  } cases[] = {
      {{"250-mx STARTTLS AUTH PLAIN", "250 SIZE 100"}, false, false, false},  // the greeting line
      {{"250-mx", "250-starttls", "250-AUTH CRAM-MD5 login", "250 HELP"}, true, false, true},
      {{"250-mx", "250-AUTH=PLAIN LOGIN", "250 8BITMIME"}, false, true, true},
      {{"250-mx", "550-STARTTLS", "250-AUTHPLAIN", "250 X AUTH PLAIN"}, false, false, false},
  };
  for (const auto& c : cases) {
    const auto ext = snx::alerts::ParseEhloReply(c.lines);
    EXPECT_EQ(ext.starttls, c.starttls) << c.lines[1];
    EXPECT_EQ(ext.auth_plain, c.plain) << c.lines[1];
    EXPECT_EQ(ext.auth_login, c.login) << c.lines[1];
  }
}

TEST(SmtpExtensionsTest, Base64) {
  const std::pair<std::string, std::string> pairs[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {std::string("\0watch\0s3cret", 13), "AHdhdGNoAHMzY3JldA=="},
      {"Username:", "VXNlcm5hbWU6"}};
  for (const auto& [plain, coded] : pairs) {
    EXPECT_EQ(Base64Encode(plain), coded);
    std::string back;
    EXPECT_TRUE(Base64Decode(" " + coded + " ", back) && back == plain) << coded;
  }
  std::string out;
  for (const char* bad : {"Zg=", "Z===", "Zm9v=", "Zg==Zm8=", "Zm 9v", "Zm9*"}) {
    EXPECT_FALSE(Base64Decode(bad, out)) << bad;
  }
}

}  // namespace

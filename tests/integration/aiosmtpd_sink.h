#pragma once
// Debian's aiosmtpd as a mail sink for the tests (tests/peers/aiosmtpd_sink.py): it speaks plain
// SMTP, or offers STARTTLS, or speaks TLS from the first byte, and asks for a login when given
// one.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace snx::test {

// Fails the test when aiosmtpd does not start: scripts/install-deps installs it.
class AiosmtpdSink {
 public:
  // `extra`: the mode ("plain", "starttls" or "tls"), the certificate and key files, the user
  // and password to ask for (none when empty).
  explicit AiosmtpdSink(const std::vector<std::string>& extra = {})
      : server_(spool_, "aiosmtpd_sink.py", extra) {
    EXPECT_TRUE(server_.Started())
        << "aiosmtpd (python3-aiosmtpd) did not start: " << server_.Banner();
  }
  bool Started() const { return server_.Started(); }
  // "127.0.0.1:PORT", the SmtpServer setting that reaches it.
  std::string Server() const { return "127.0.0.1:" + server_.Port(); }
  std::string Port() const { return server_.Port(); }
  // Message `n` (from 1) as kept, "" when there is none.
  std::string Message(int n) const {
    const std::string name = "msg-" + std::to_string(n) + ".eml";
    return std::filesystem::exists(spool_.File(name)) ? spool_.Read(name) : "";
  }
  // Every message so far, one after the other.
  std::string Spooled() const {
    std::string all;
    for (int i = 1; !Message(i).empty(); ++i) all += Message(i);
    return all;
  }

 private:
  TempDir spool_;
  ScriptServer server_;
};

}  // namespace snx::test

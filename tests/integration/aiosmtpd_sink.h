#pragma once
// Debian's aiosmtpd as a mail sink for the tests: it keeps each message in the spool folder as
// "msg-N.eml": "RCPT address" lines, a blank line and the message as it came. It speaks plain
// SMTP, or offers STARTTLS, or speaks TLS from the first byte, and asks for a login when given
// one.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace snx::test {

// The aiosmtpd server, keeping each message as "RCPT address" lines, a blank line and the
// message as it came.
inline constexpr const char* kSink = R"(import asyncio, os, ssl, sys
from aiosmtpd.smtp import SMTP, AuthResult
out = sys.argv[1]
mode, cert, key, user, password = (sys.argv[2:] + ["plain", "", "", "", ""])[:5]
count = 0
context = None
if mode != "plain":
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
def check(server, session, envelope, mechanism, data):
    ok = data.login == user.encode() and data.password == password.encode()
    return AuthResult(success=ok, handled=False)

class Keep:
    async def handle_DATA(self, server, session, envelope):
        global count
        count += 1
        name = os.path.join(out, "msg-%d" % count)
        with open(name + ".tmp", "wb") as f:
            for r in envelope.rcpt_tos:
                f.write(b"RCPT " + r.encode() + b"\n")
            f.write(b"\n" + envelope.original_content)
        os.rename(name + ".tmp", name + ".eml")
        return "250 OK"
async def main():
    login = dict(authenticator=check, auth_required=True) if user else {}
    if mode == "tls":
        login["auth_require_tls"] = False  # the TLS is the connection's own
    starttls = context if mode == "starttls" else None
    srv = await asyncio.get_running_loop().create_server(
        lambda: SMTP(Keep(), hostname="sink", tls_context=starttls, **login), "127.0.0.1", 0,
        ssl=context if mode == "tls" else None)
    print("listening %d" % srv.sockets[0].getsockname()[1], flush=True)
    await srv.serve_forever()
asyncio.run(main())
)";

// Fails the test when aiosmtpd does not start: scripts/install-deps installs it.
class AiosmtpdSink {
 public:
  // `extra`: the mode ("plain", "starttls" or "tls"), the certificate and key files, the user
  // and password to ask for (none when empty).
  explicit AiosmtpdSink(const std::vector<std::string>& extra = {})
      : server_(spool_, kSink, extra) {
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

#pragma once
// Debian's aiosmtpd as a mail sink for the tests: it keeps each message in the spool folder as
// "msg-N.eml": "RCPT address" lines, a blank line and the message as it came. It speaks plain
// SMTP, or offers STARTTLS, or speaks TLS from the first byte, and asks for a login when given
// one.

#include <unistd.h>

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

class AiosmtpdSink {
 public:
  // `extra`: the mode ("plain", "starttls" or "tls"), the certificate and key files, the user
  // and password to ask for (none when empty).
  explicit AiosmtpdSink(const TempDir& spool, const std::vector<std::string>& extra = {})
      : script_(WriteScript(spool)), child_(Argv(script_, spool, extra), true) {
    for (int i = 0; i < 200 && banner_.find('\n') == std::string::npos; ++i) {
      usleep(50000);
      banner_ = child_.Output();
    }
  }
  bool Started() const { return banner_.rfind("listening ", 0) == 0; }
  const std::string& Banner() const { return banner_; }
  // "127.0.0.1:PORT", the SmtpServer setting that reaches it.
  std::string Server() const { return "127.0.0.1:" + banner_.substr(10, banner_.find('\n') - 10); }

 private:
  static std::vector<std::string> Argv(const std::string& script, const TempDir& spool,
                                       const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {"/usr/bin/python3", "-u", script, spool.path()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
  }
  static std::string WriteScript(const TempDir& spool) {
    spool.Write("sink.py", kSink);
    return spool.File("sink.py");
  }
  std::string script_;
  Child child_;
  std::string banner_;
};

}  // namespace snx::test

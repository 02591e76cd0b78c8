#pragma once
// Debian's aiosmtpd as a mail sink for the tests: it keeps each message in the spool folder as
// "msg-N.eml": "RCPT address" lines, a blank line and the message as it came.

#include <unistd.h>

#include <string>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace snx::test {

// The aiosmtpd server, keeping each message as "RCPT address" lines, a blank line and the
// message as it came.
inline constexpr const char* kSink = R"(import asyncio, os, sys
from aiosmtpd.smtp import SMTP
out = sys.argv[1]
count = 0
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
    srv = await asyncio.get_running_loop().create_server(
        lambda: SMTP(Keep(), hostname="sink"), "127.0.0.1", 0)
    print("listening %d" % srv.sockets[0].getsockname()[1], flush=True)
    await srv.serve_forever()
asyncio.run(main())
)";

class AiosmtpdSink {
 public:
  explicit AiosmtpdSink(const TempDir& spool)
      : script_(WriteScript(spool)),
        child_({"/usr/bin/python3", "-u", script_, spool.path()}, true) {
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
  static std::string WriteScript(const TempDir& spool) {
    spool.Write("sink.py", kSink);
    return spool.File("sink.py");
  }
  std::string script_;
  Child child_;
  std::string banner_;
};

}  // namespace snx::test

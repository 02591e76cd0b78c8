// The debugger output: one line on stderr per text while SNX_DEBUG is set, nothing otherwise.

#include "platform/debug_sink.h"

#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/no_destructor.h"
#include "platform/visible_text.h"

namespace snx::platform {
namespace {

class StderrDebugSink : public DebugSink {
 public:
  void Write(std::string_view text) override {
    // Read each time, so that switching it on needs no restart of a test or a tool.
    const char* flag = getenv("SNX_DEBUG");
    if (flag == nullptr || *flag == '\0') return;
    // One text is one line on the terminal, whatever outside text it carries.
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    std::string line = VisibleText(text);
    line.push_back('\n');
    // One write per line keeps lines of different threads whole.
    std::size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
};

}  // namespace

template <>
DebugSink& DefaultFacility<DebugSink>() {
  static NoDestructor<StderrDebugSink> sink;
  return *sink.get();
}

}  // namespace snx::platform

// Message boxes on a machine without a desktop: the caption and text go to stderr and to syslog
// (ident "SNXSVC") and the call returns at once, as if OK had been pressed.

#include "platform/message_sink.h"

#include <errno.h>
#include <unistd.h>

#include <string>

#include "platform/no_destructor.h"
#include "platform/posix/syslog_send.h"

namespace snx::platform {
namespace {

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

class SyslogMessageSink : public MessageSink {
 public:
  void Show(std::string_view caption, std::string_view text) override {
    std::string line(caption);
    line.append(": ");
    line.append(text);
    posix::SendToSyslog(posix::kSyslogNotice, line);
    if (line.back() != '\n') line.push_back('\n');
    WriteAll(STDERR_FILENO, line);
  }
};

}  // namespace

template <>
MessageSink& DefaultFacility<MessageSink>() {
  static NoDestructor<SyslogMessageSink> sink;
  return *sink.get();
}

}  // namespace snx::platform

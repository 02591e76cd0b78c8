// Message boxes on a machine without a desktop: the caption and text go to stderr and to syslog
// (ident "SNXSVC") and the call returns at once, as if OK had been pressed.

#include "platform/message_sink.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/no_destructor.h"

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

// One datagram to the local syslog socket, sent without waiting: a stalled syslog daemon must
// not hold up the caller, so a message that cannot be sent at once is dropped.
void SendToSyslog(std::string_view caption, std::string_view text) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, "/dev/log", sizeof(addr.sun_path) - 1);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) {
    char stamp[32] = "";
    const time_t now = ::time(nullptr);
    struct tm parts {};
    if (localtime_r(&now, &parts) != nullptr) ::strftime(stamp, sizeof(stamp), "%b %e %T", &parts);
    char head[96];
    std::snprintf(head, sizeof(head), "<%d>%s SNXSVC[%d]: ", LOG_DAEMON | LOG_NOTICE, stamp,
                  static_cast<int>(::getpid()));
    std::string line(head);
    line.append(caption);
    line.append(": ");
    line.append(text);
    // A syslog record is one line.
    for (std::size_t i = std::strlen(head); i < line.size(); ++i) {
      if (line[i] == '\n' || line[i] == '\r') line[i] = ' ';
    }
    (void)::send(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  ::close(fd);
}

class SyslogMessageSink : public MessageSink {
 public:
  void Show(std::string_view caption, std::string_view text) override {
    std::string line(caption);
    line.append(": ");
    line.append(text);
    if (line.back() != '\n') line.push_back('\n');
    WriteAll(STDERR_FILENO, line);
    SendToSyslog(caption, text);
  }
};

}  // namespace

template <>
MessageSink& DefaultFacility<MessageSink>() {
  static NoDestructor<SyslogMessageSink> sink;
  return *sink.get();
}

}  // namespace snx::platform

#include "platform/posix/syslog_send.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace snx::platform::posix {

void SendToSyslog(int severity, std::string_view text) {
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
    std::snprintf(head, sizeof(head), "<%d>%s SNXSVC[%d]: ", LOG_DAEMON | severity, stamp,
                  static_cast<int>(::getpid()));
    std::string line(head);
    const std::size_t start = line.size();
    line.append(text);
    for (std::size_t i = start; i < line.size(); ++i) {
      if (line[i] == '\n' || line[i] == '\r') line[i] = ' ';
    }
    (void)::send(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  ::close(fd);
}

}  // namespace snx::platform::posix

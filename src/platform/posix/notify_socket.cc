#include "platform/posix/notify_socket.h"

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace snx::platform::posix {

bool SendNotify(std::string_view state) {
  const char* path = ::getenv("NOTIFY_SOCKET");
  if (path == nullptr || *path == '\0') return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::size_t length = std::strlen(path);
  if (length >= sizeof(addr.sun_path)) return false;
  std::memcpy(addr.sun_path, path, length);
  // "@name" is an abstract socket: its first byte is NUL.
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  const bool sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                             reinterpret_cast<const sockaddr*>(&addr),
                             size) == static_cast<ssize_t>(state.size());
  ::close(fd);
  return sent;
}

}  // namespace snx::platform::posix

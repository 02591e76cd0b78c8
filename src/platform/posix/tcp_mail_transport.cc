// The real mail transport: getaddrinfo for IPv4 names, a non-blocking TCP socket whose connect,
// sends and receives each wait in poll() with a bound, and MSG_NOSIGNAL on every send.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/mail_transport.h"
#include "platform/posix/no_destructor.h"

namespace snx::platform {
namespace {

std::string ErrorText(int error) { return std::strerror(error); }

// Milliseconds for poll(): at least 0, at most a day.
int PollSpan(std::chrono::milliseconds timeout) {
  const auto ms = BoundedWait(timeout).count();
  return static_cast<int>(std::min<long long>(ms, 86400000LL));
}

// Waits for `events` on `fd`; 1 ready, 0 timed out, -1 error (errno set).
int WaitFor(int fd, short events, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + BoundedWait(timeout);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, PollSpan(left));
    if (n >= 0) return n > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
  }
}

class SocketConnection : public TcpConnection {
 public:
  explicit SocketConnection(int fd) : fd_(fd) {}
  ~SocketConnection() override { ::close(fd_); }
  SocketConnection(const SocketConnection&) = delete;
  SocketConnection& operator=(const SocketConnection&) = delete;

  bool Send(std::string_view bytes, std::chrono::milliseconds timeout,
            std::string& error) override {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        error = ErrorText(errno);
        return false;
      }
      const int ready = WaitFor(fd_, POLLOUT, timeout);
      if (ready <= 0) {
        error = ready == 0 ? "the peer took nothing in time" : ErrorText(errno);
        return false;
      }
    }
    return true;
  }

  Received Receive(std::size_t max_bytes, std::chrono::milliseconds timeout) override {
    Received r;
    std::string buffer(std::max<std::size_t>(max_bytes, 1), '\0');
    for (;;) {
      const int ready = WaitFor(fd_, POLLIN, timeout);
      if (ready == 0) {
        r.status = Received::Status::kTimedOut;
        return r;
      }
      if (ready < 0) break;
      const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
      if (n > 0) {
        buffer.resize(static_cast<std::size_t>(n));
        r.status = Received::Status::kData;
        r.bytes = std::move(buffer);
        return r;
      }
      if (n == 0) {
        r.status = Received::Status::kClosed;
        return r;
      }
      if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) break;
    }
    r.status = Received::Status::kError;
    r.error = ErrorText(errno);
    return r;
  }

 private:
  int fd_;
};

class TcpMailTransport : public MailTransport {
 public:
  std::string ResolveIpv4(std::string_view host) override {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string name(host);
    if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return "";
    std::string out;
    for (const addrinfo* a = found; a != nullptr && out.empty(); a = a->ai_next) {
      if (a->ai_family != AF_INET) continue;
      char text[INET_ADDRSTRLEN] = {};
      const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
      if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr) out = text;
    }
    ::freeaddrinfo(found);
    return out;
  }

  Connected Connect(std::string_view address, std::uint16_t port,
                    std::chrono::milliseconds timeout) override {
    Connected c;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, std::string(address).c_str(), &to.sin_addr) != 1) {
      c.error = "not an IPv4 address";
      return c;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      c.error = ErrorText(errno);
      return c;
    }
    auto connection = std::make_unique<SocketConnection>(fd);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
      if (errno != EINPROGRESS && errno != EINTR) {
        c.error = ErrorText(errno);
        return c;
      }
      const int ready = WaitFor(fd, POLLOUT, timeout);
      int error = 0;
      socklen_t len = sizeof error;
      if (ready == 0) {
        c.error = "timed out";
        return c;
      }
      if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
        c.error = ErrorText(errno);
        return c;
      }
      if (error != 0) {
        c.error = ErrorText(error);
        return c;
      }
    }
    c.connection = std::move(connection);
    return c;
  }
};

}  // namespace

template <>
MailTransport& DefaultFacility<MailTransport>() {
  static NoDestructor<TcpMailTransport> transport;
  return *transport.get();
}

}  // namespace snx::platform

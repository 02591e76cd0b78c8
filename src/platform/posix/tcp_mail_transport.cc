// The real mail transport: getaddrinfo for IPv4 names on a thread of its own (a look-up that
// hangs is left behind when its bound ends), a non-blocking TCP socket whose connect, sends and
// receives each wait in poll() with a bound, MSG_NOSIGNAL on every send, and OpenSSL for TLS.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/clock.h"
#include "platform/mail_transport.h"
#include "platform/no_destructor.h"
#include "platform/posix/poll_wait.h"
#include "platform/posix/tls_session.h"

namespace snx::platform {
namespace {

std::string ErrorText(int error) { return std::strerror(error); }

class SocketConnection : public TcpConnection {
 public:
  explicit SocketConnection(int fd) : fd_(fd) {}
  ~SocketConnection() override { ::close(fd_); }
  SocketConnection(const SocketConnection&) = delete;
  SocketConnection& operator=(const SocketConnection&) = delete;

  bool Send(std::string_view bytes, std::chrono::milliseconds timeout,
            std::string& error) override {
    if (tls_ != nullptr) return tls_->Send(bytes, timeout, error);
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
    if (tls_ != nullptr) return tls_->Receive(max_bytes, timeout);
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

  TlsResult StartTls(const TlsOptions& options, std::chrono::milliseconds timeout) override {
    TlsResult result;
    if (tls_ != nullptr || broken_) {
      result.detail = "TLS cannot be started twice";
      return result;
    }
    tls_ = TlsSession::Start(fd_, options, timeout, result);
    broken_ = tls_ == nullptr;
    return result;
  }

 private:
  int fd_;
  std::unique_ptr<TlsSession> tls_;  // before fd_ is closed, the session goes
  bool broken_ = false;
};

// The first IPv4 address of a name; "" when there is none.
std::string LookUpIpv4(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return "";
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

// Look-ups still running after their bound ended; beyond a few, new ones are not started, so a
// resolver that hangs for good cannot pile threads up.
std::atomic<int> g_stray_lookups{0};
constexpr int kMaxStrayLookups = 4;

struct Lookup {
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  bool abandoned = false;
  std::string address;
};

class TcpMailTransport : public MailTransport {
 public:
  std::string ResolveIpv4(std::string_view host, std::chrono::milliseconds timeout) override {
    const std::string name(host);
    in_addr dotted{};
    if (name.empty()) return "";
    if (::inet_pton(AF_INET, name.c_str(), &dotted) == 1) return name;
    if (g_stray_lookups.load() >= kMaxStrayLookups) return "";
    auto lookup = std::make_shared<Lookup>();
    try {
      std::thread([lookup, name] {
        std::string address = LookUpIpv4(name);
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->address = std::move(address);
        lookup->done = true;
        if (lookup->abandoned) --g_stray_lookups;
        lookup->done_signal.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      return "";
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done_signal.wait_for(lock, BoundedWait(timeout), [&] { return lookup->done; })) {
      lookup->abandoned = true;
      ++g_stray_lookups;
      return "";
    }
    return lookup->address;
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

#pragma once
// A small HTTP server on 127.0.0.1 for tests and benchmarks: it listens on a free port, reads
// each request's head, and answers what the handler returns. An empty answer keeps the
// connection open without a word until the server stops (a server that never answers).
// Connections are served one after another on the server's own thread.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace snx::test {

// A listening TCP socket on 127.0.0.1 at a free port (stored in `port`); -1 when there is none.
inline int ListenOnLoopback(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, 64) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  port = ntohs(addr.sin_port);
  return fd;
}

// A loopback port that was free a moment ago (nothing listens there now).
inline std::uint16_t FreePort() {
  std::uint16_t port = 0;
  if (const int fd = ListenOnLoopback(port); fd >= 0) ::close(fd);
  return port;
}

class LoopbackHttpServer {
 public:
  // Gets the request head (request line and header lines, CR LF ends) and returns the raw
  // answer bytes.
  using Handler = std::function<std::string(const std::string& request_head)>;

  explicit LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
    listen_fd_ = ListenOnLoopback(port_);
    if (listen_fd_ >= 0) thread_ = std::thread([this] { Run(); });
  }

  ~LoopbackHttpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : held_) ::close(fd);
    if (listen_fd_ >= 0) ::close(listen_fd_);
  }

  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::uint16_t port() const { return port_; }
  std::string Url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int request_count() const { return static_cast<int>(requests().size()); }

  // A whole answer with the given status, extra header lines (without line ends) and body.
  static std::string Answer(int status, const std::vector<std::string>& headers = {},
                            const std::string& body = "") {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " Test\r\n";
    for (const auto& h : headers) out += h + "\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    return out + body;
  }

 private:
  void Run() {
    while (!stop_) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      if (const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC); fd >= 0) Serve(fd);
    }
  }

  void Serve(int fd) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 && !stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      head.append(buffer, static_cast<std::size_t>(n));
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(head);
    }
    const std::string answer = handler_(head);
    if (answer.empty()) {
      held_.push_back(fd);  // never answered; closed when the server stops
      return;
    }
    for (std::size_t done = 0; done < answer.size();) {
      const ssize_t n = ::send(fd, answer.data() + done, answer.size() - done, MSG_NOSIGNAL);
      if (n <= 0 && errno != EINTR) break;
      if (n > 0) done += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
  }

  Handler handler_;
  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<int> held_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
};

}  // namespace snx::test

#pragma once
// A small SMTP server of our own on 127.0.0.1 for the odd cases a real one never shows: a
// script answers the greeting ("") and every command line; its answer is sent in the pieces
// given, a tenth of a second apart, or the connection is closed, or nothing is said at all.
// Lines of a message (after a 354) reach the script only as the final ".".

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_http_server.h"

namespace snx::test {

class SmtpPeer {
 public:
  struct Say {
    std::vector<std::string> pieces;
    bool close = false;  // hang up after the pieces
  };
  using Script = std::function<Say(const std::string& line)>;

  explicit SmtpPeer(Script script) : script_(std::move(script)) {
    listen_fd_ = ListenOnLoopback(port_);
    if (listen_fd_ >= 0) thread_ = std::thread([this] { Run(); });
  }
  ~SmtpPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
  }

  std::string Server() const { return "127.0.0.1:" + std::to_string(port_); }
  int connections() const { return connections_; }
  std::string received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  // True once `fd` has something to read; false after 50 ms without.
  static bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 50) > 0;
  }
  void Run() {
    while (!stop_) {
      const int fd =
          Readable(listen_fd_) ? ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
      if (fd < 0) continue;
      ++connections_;
      Serve(fd);
      ::close(fd);
    }
  }
  // False when the connection is to be closed.
  bool Answer(int fd, const std::string& line, bool& in_data) {
    const Say say = script_(line);
    for (std::size_t i = 0; i < say.pieces.size() && !stop_; ++i) {
      if (i > 0) usleep(100000);
      ::send(fd, say.pieces[i].data(), say.pieces[i].size(), MSG_NOSIGNAL);
    }
    in_data =
        line.rfind("DATA", 0) == 0 && !say.pieces.empty() && say.pieces[0].rfind("354", 0) == 0;
    return !say.close;
  }
  void Serve(int fd) {
    bool in_data = false;
    if (!Answer(fd, "", in_data)) return;
    std::string pending;
    char buffer[4096];
    while (!stop_) {
      if (!Readable(fd)) continue;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      pending.append(buffer, static_cast<std::size_t>(n));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.append(buffer, static_cast<std::size_t>(n));
      }
      for (std::size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 2);
        if (in_data && line != ".") continue;
        if (!Answer(fd, line, in_data)) return;
      }
    }
  }

  Script script_;
  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::string received_;
};

// A well-behaved server's answers, for scripts to fall back on.
inline SmtpPeer::Say PlainSmtpAnswer(const std::string& line) {
  if (line.empty()) return {{"220 peer ready\r\n"}};
  if (line.rfind("DATA", 0) == 0) return {{"354 go ahead\r\n"}};
  if (line.rfind("QUIT", 0) == 0) return {{"221 bye\r\n"}, true};
  return {{"250 ok\r\n"}};
}

}  // namespace snx::test

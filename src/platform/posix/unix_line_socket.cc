// The command socket on Linux: a Unix stream socket, SO_PEERCRED for the peer check, one
// thread per connection, a pipe that wakes every wait when the server stops.

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/line_socket.h"
#include "platform/posix/fs_util.h"

namespace snx::platform {
namespace {

constexpr int kNoGroup = -1;

bool FillAddress(const std::string& path, sockaddr_un& addr, std::string& error) {
  addr = {};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(addr.sun_path)) {
    error = "socket path too long for a Unix socket: " + path;
    return false;
  }
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool SendLine(int fd, std::string line) {
  line.push_back('\n');
  return SendAll(fd, line);
}

int GroupId(const std::string& name) {
  if (name.empty()) return kNoGroup;
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return kNoGroup;
  }
  return static_cast<int>(found->gr_gid);
}

// The peer's user is a member of the group (primary or supplementary).
bool UserInGroup(unsigned uid, unsigned primary_gid, gid_t group_id) {
  if (primary_gid == group_id) return true;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return false;
  }
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(found->pw_name, primary_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(found->pw_name, primary_gid, groups.data(), &count) < 0) return false;
  }
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<std::size_t>(i)] == group_id) return true;
  }
  return false;
}

class UnixLineServer : public LineServer {
 public:
  ~UnixLineServer() override { Stop(); }

  bool Start(const LineServerOptions& options, SessionMaker make, std::string& error) override {
    if (listen_fd_ >= 0) {
      error = "already listening";
      return false;
    }
    options_ = options;
    make_ = std::move(make);
    sockaddr_un addr{};
    if (!FillAddress(options.path, addr, error)) return false;
    const std::size_t cut = options.path.rfind('/');
    if (cut != std::string::npos && cut > 0 &&
        !posix::MakeFolderTree(options.path.substr(0, cut))) {
      error = "cannot make the folder of " + options.path + ": " + std::strerror(errno);
      return false;
    }
    if (!RemoveStaleSocket(addr, error)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error = std::string("socket: ") + std::strerror(errno);
      return false;
    }
    admin_gid_ = GroupId(options.admin_group);
    // Nobody can connect before listen(), so the mode and group are in place in time.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::chmod(options.path.c_str(), 0660) != 0 ||
        (admin_gid_ != kNoGroup &&
         ::chown(options.path.c_str(), static_cast<uid_t>(-1), static_cast<gid_t>(admin_gid_)) !=
             0 &&
         errno != EPERM) ||
        ::listen(fd, 16) != 0) {
      error = "cannot listen on " + options.path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    struct stat st {};
    if (::stat(options.path.c_str(), &st) == 0) socket_inode_ = st.st_ino;
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
      error = std::string("pipe: ") + std::strerror(errno);
      ::close(fd);
      return false;
    }
    listen_fd_ = fd;
    stopping_ = false;
    acceptor_ = std::thread([this] { AcceptLoop(); });
    return true;
  }

  void Stop() override {
    if (listen_fd_ < 0) return;
    stopping_ = true;
    const char byte = 1;
    (void)!::write(wake_[1], &byte, 1);
    if (acceptor_.joinable()) acceptor_.join();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto& c : connections_) ::shutdown(c.fd, SHUT_RDWR);
    }
    for (auto& c : connections_) {
      if (c.thread.joinable()) c.thread.join();
    }
    connections_.clear();
    struct stat st {};
    if (::lstat(options_.path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
        st.st_ino == socket_inode_) {
      ::unlink(options_.path.c_str());
    }
    ::close(listen_fd_);
    ::close(wake_[0]);
    ::close(wake_[1]);
    listen_fd_ = -1;
  }

  std::size_t OpenConnections() const override { return open_.load(); }

 private:
  struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  // A socket left by a server that died is replaced; a live server or a file of another kind
  // at the path is left alone and reported.
  bool RemoveStaleSocket(const sockaddr_un& addr, std::string& error) {
    struct stat st {};
    if (::lstat(options_.path.c_str(), &st) != 0) return true;
    if (!S_ISSOCK(st.st_mode)) {
      error = options_.path + " exists and is not a socket";
      return false;
    }
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live =
        probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
    if (probe >= 0) ::close(probe);
    if (live) {
      error = "another server is listening on " + options_.path;
      return false;
    }
    ::unlink(options_.path.c_str());
    return true;
  }

  bool Allowed(const PeerIdentity& peer) const {
    if (peer.uid == 0 || peer.uid == ::geteuid()) return true;
    return admin_gid_ != kNoGroup &&
           UserInGroup(peer.uid, peer.gid, static_cast<gid_t>(admin_gid_));
  }

  void AcceptLoop() {
    while (!stopping_) {
      pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      // The stop comes through the wake pipe; the timeout only reaps ended connections, so
      // with none open the loop sleeps long.
      if (::poll(fds, 2, ReapWait()) < 0 && errno != EINTR) break;
      ReapFinished();
      if (stopping_ || (fds[0].revents & POLLIN) == 0) continue;
      const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ucred cred{};
      socklen_t len = sizeof(cred);
      PeerIdentity peer;
      const bool known = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0;
      if (known) peer = {cred.pid, cred.uid, cred.gid};
      if (!known || !Allowed(peer)) {
        SendLine(fd, options_.refused_answer);
        ::close(fd);
        if (options_.on_refused) options_.on_refused(peer);
        continue;
      }
      if (open_.load() >= options_.max_connections) {
        SendLine(fd, options_.busy_answer);
        ::close(fd);
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      Connection& c = connections_.emplace_back();
      c.fd = fd;
      ++open_;
      c.thread = std::thread([this, &c, peer] { Serve(c, peer); });
    }
  }

  int ReapWait() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_.empty() ? 60'000 : 1000;
  }

  void ReapFinished() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (it->done.load()) {
        it->thread.join();
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }

  void Serve(Connection& c, const PeerIdentity& peer) {
    {
      std::unique_ptr<LineSession> session = make_(peer);
      if (session != nullptr) Talk(c.fd, *session);
    }  // the session ends before the connection is counted closed
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ::close(c.fd);
      c.fd = -1;
    }
    --open_;
    c.done = true;
  }

  // Answers line after line until the peer closes, the server stops, or no whole line came
  // within the line wait (counted from the start and from each answer).
  void Talk(int fd, LineSession& session) {
    using Steady = std::chrono::steady_clock;
    std::string line;
    bool skipping = false;  // inside an overlong line, up to its LF
    char buffer[512];
    auto deadline = Steady::now() + options_.line_wait;
    while (!stopping_) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now()).count();
      if (left <= 0) return;
      pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      const int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left, 60'000)));
      if (ready < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (ready == 0) continue;
      if (fds[1].revents != 0 || fds[0].revents == 0) return;
      const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      for (ssize_t i = 0; i < n; ++i) {
        const char ch = buffer[i];
        if (ch == '\n') {
          const bool ok = skipping ? SendLine(fd, options_.too_long_answer)
                                   : SendLine(fd, session.Answer(line));
          skipping = false;
          line.clear();
          if (!ok) return;
          deadline = Steady::now() + options_.line_wait;
        } else if (!skipping) {
          // One byte over the bound is allowed for the CR of a CR LF.
          if (line.size() > options_.max_line) {
            skipping = true;
            line.clear();
          } else {
            line.push_back(ch);
          }
        }
      }
    }
  }

  LineServerOptions options_;
  SessionMaker make_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};
  int admin_gid_ = kNoGroup;
  ino_t socket_inode_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> open_{0};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::list<Connection> connections_;
};

class UnixLineClient : public LineClient {
 public:
  ~UnixLineClient() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool Connect(const std::string& path, std::string& error) override {
    sockaddr_un addr{};
    if (!FillAddress(path, addr, error)) return false;
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
      denied_ = errno == EACCES || errno == EPERM;
      error = std::strerror(errno);
      return false;
    }
    return true;
  }

  bool PermissionDenied() const override { return denied_; }

  bool Exchange(std::string_view request, std::string& answer, std::size_t max_line,
                std::chrono::milliseconds timeout, std::string& error) override {
    std::string line(request);
    line.push_back('\n');
    if (fd_ < 0) {
      error = "not connected";
      return false;
    }
    // A server that refused the peer has sent its answer and closed: the send fails, and the
    // answer is still there to read.
    sent_ = SendAll(fd_, line);
    return ReadLine(answer, max_line, timeout, error);
  }

  bool ReadLine(std::string& answer, std::size_t max_line, std::chrono::milliseconds timeout,
                std::string& error) override {
    if (fd_ < 0) {
      error = "not connected";
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      const std::size_t lf = pending_.find('\n');
      if (lf != std::string::npos) {
        answer = pending_.substr(0, lf);
        pending_.erase(0, lf + 1);
        return true;
      }
      if (pending_.size() > max_line) {
        error = "the answer is too long";
        return false;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        error = "no answer in time";
        return false;
      }
      pollfd fds{fd_, POLLIN, 0};
      const int ready = ::poll(&fds, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) continue;
      char buffer[512];
      const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = sent_ ? "the service closed the connection" : "the connection is closed";
        return false;
      }
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_ = -1;
  bool sent_ = false;  // the last request went out
  bool denied_ = false;
  std::string pending_;
};

}  // namespace

std::unique_ptr<LineServer> MakeUnixLineServer() { return std::make_unique<UnixLineServer>(); }
std::unique_ptr<LineClient> MakeUnixLineClient() { return std::make_unique<UnixLineClient>(); }

}  // namespace snx::platform

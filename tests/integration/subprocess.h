#pragma once
// Running programs from the integration tests: a child with its standard output captured,
// waited for within a bound, and always reaped.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace snx::test {

// A started program whose standard output comes through a pipe; its standard error is kept,
// joined to the output, or dropped. The destructor kills and reaps it if it still runs.
enum class Stderr { kKeep, kMerge, kDrop };

class Child {
 public:
  explicit Child(const std::vector<std::string>& argv, Stderr err = Stderr::kKeep) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (err == Stderr::kMerge) posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    if (err == Stderr::kDrop) {
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
  }
  ~Child() {
    Kill();
    if (out_ >= 0) close(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }

  // Reads one line of output, waiting at most `bound`; false at the end or on the bound.
  bool ReadLine(std::string& line, std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    for (;;) {
      const auto lf = buffer_.find('\n');
      if (lf != std::string::npos) {
        line = buffer_.substr(0, lf);
        buffer_.erase(0, lf + 1);
        return true;
      }
      if (!Fill(until)) return false;
    }
  }

  // Reads everything up to the end of the output and waits for the exit, within `bound`.
  // Returns the exit code, or -1 when the bound passed (the child is then killed).
  int Finish(std::string& output, std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    while (Fill(until)) {
    }
    output = buffer_;
    buffer_.clear();
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(5000);
    }
    Kill();
    return -1;
  }

  void Kill(int signal = SIGKILL) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    // Bounded wait for a polite end; then no more politeness.
    for (int i = 0; i < 500; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      usleep(10000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  bool Fill(std::chrono::steady_clock::time_point until) {
    if (out_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[4096];
    const ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

// The built snxctl: $SNX_TEST_BIN_DIR/tools/snxctl, else next to this test's build folder.
inline std::string SnxctlPath() {
  if (const char* dir = std::getenv("SNX_TEST_BIN_DIR"); dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/tools/snxctl";
  }
  const auto self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "tools" / "snxctl").string();
}

inline std::string PythonPath() {
  return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

}  // namespace snx::test

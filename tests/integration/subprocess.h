#pragma once
// Running programs from the integration tests: a child with its standard output captured,
// read within a bound, and always killed and reaped.

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

enum class Stderr { kKeep, kMerge, kDrop };

class Child {
 public:
  explicit Child(const std::vector<std::string>& argv, Stderr err = Stderr::kKeep) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (err == Stderr::kMerge) posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    if (err == Stderr::kDrop)
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
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
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }

  // One line of output, waiting at most `bound`; false at the end or on the bound.
  bool ReadLine(std::string& line, std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    std::size_t lf;
    while ((lf = buffer_.find('\n')) == std::string::npos) {
      if (!Fill(until)) return false;
    }
    line = buffer_.substr(0, lf);
    buffer_.erase(0, lf + 1);
    return true;
  }

  // All output up to its end, then the exit code; -1 when `bound` passed first.
  int Finish(std::string& output, std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    while (Fill(until)) {
    }
    output.swap(buffer_);
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(5000);
    }
    return -1;
  }

 private:
  bool Fill(std::chrono::steady_clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    pollfd p{out_, POLLIN, 0};
    if (out_ < 0 || left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
      return false;
    }
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

// The built snxctl: $SNX_TEST_BIN_DIR/tools/snxctl, else beside this test's build folder.
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

#pragma once
// Running programs from the integration tests: a child whose standard output goes to a file
// of its own, waited for within a bound, and always killed and reaped.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace snx::test {

// True once `ready` answers true, polled every 100 ms; false when `limit` passed first.
template <class F>
bool Within(std::chrono::seconds limit, F ready) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (; !ready(); std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
    if (std::chrono::steady_clock::now() > end) return false;
  }
  return true;
}

class Child {
 public:
  // With merge_stderr the standard error goes to the same file, else it is dropped.
  explicit Child(const std::vector<std::string>& argv, bool merge_stderr = false) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, dir_.File("out").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    if (merge_stderr) {
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // All it has written so far.
  std::string Output() const { return dir_.Read("out"); }

  // Its exit code once it has ended, waiting at most `bound`; -1 when it is still running.
  int Wait(std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_) {
      if (pid_ <= 0 || std::chrono::steady_clock::now() >= until) return -1;
      usleep(5000);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
};

struct Run {
  int exit_code = -1;
  std::string out;
};

// The built snxctl: $SNX_TEST_BIN_DIR/bin/snxctl, else beside this test's build folder.
inline std::string SnxctlPath() {
  if (const char* dir = std::getenv("SNX_TEST_BIN_DIR"); dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/bin/snxctl";
  }
  const auto self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "bin" / "snxctl").string();
}

// Runs snxctl (or a copy of it) to its end: its exit code (-1 when it took over 30 s) and its
// standard output and error together.
inline Run Snxctl(std::vector<std::string> args, const std::string& program = SnxctlPath()) {
  args.insert(args.begin(), program);
  Child child(args, true);
  Run run;
  run.exit_code = child.Wait(std::chrono::seconds(30));
  run.out = child.Output();
  return run;
}

}  // namespace snx::test

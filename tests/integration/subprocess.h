#pragma once
// Running programs from the integration tests: a child whose standard output goes to a file
// of its own, waited for within a bound, and always killed and reaped; snxctl runs; and the
// small python servers that say "listening PORT" once they listen.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace snx::test {

// Loopback only: a proxy set in the environment must never take the tests' requests.
inline const bool kLoopbackWithoutProxy = setenv("no_proxy", "127.0.0.1,localhost,::1", 1) == 0 &&
                                          setenv("NO_PROXY", "127.0.0.1,localhost,::1", 1) == 0;

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
    int status = 0;
    if (pid_ <= 0 || !Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, bound)) {
      return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // Stops it as systemd does (SIGTERM); its exit code, as Wait gives it.
  int Terminate(std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    return Wait(bound);
  }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
};

struct CtlRun {
  int exit_code = -1;
  std::string out;
};

// A built program or plug-in: $SNX_TEST_BIN_DIR/bin/NAME, else beside this test's build folder.
inline std::string BinFile(const std::string& name) {
  if (const char* dir = std::getenv("SNX_TEST_BIN_DIR"); dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/bin/" + name;
  }
  const auto self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "bin" / name).string();
}
inline std::string SnxctlPath() { return BinFile("snxctl"); }

// Runs snxctl (or a copy of it) to its end: its exit code (-1 when it took over 30 s) and its
// standard output and error together.
inline CtlRun Snxctl(std::vector<std::string> args, const std::string& program = SnxctlPath()) {
  args.insert(args.begin(), program);
  Child child(args, true);
  CtlRun run;
  run.exit_code = child.Wait(std::chrono::seconds(30));
  run.out = child.Output();
  return run;
}

// A file of tests/peers/ in the source tree.
inline std::string PeerFile(const std::string& name) {
  return std::string(SNX_SOURCE_DIR) + "/tests/peers/" + name;
}

// A python3 server of tests/peers/ run with the folder `dir` and `args`; it prints
// "listening PORT" once it listens.
class ScriptServer {
 public:
  ScriptServer(const TempDir& dir, const std::string& peer, std::vector<std::string> args = {})
      : child_((args.insert(args.begin(), {"/usr/bin/python3", "-u", PeerFile(peer), dir.path()}),
                args),
               true) {
    Eventually([&] { return (banner_ = child_.Output()).find('\n') != std::string::npos; });
  }
  bool Started() const { return banner_.rfind("listening ", 0) == 0; }
  const std::string& Banner() const { return banner_; }
  std::string Port() const { return banner_.substr(10, banner_.find('\n') - 10); }

 private:
  Child child_;
  std::string banner_;
};

}  // namespace snx::test

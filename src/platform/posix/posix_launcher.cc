// The launcher on Linux: posix_spawn without a shell, waits on a pidfd, children reaped by a
// small reaper thread when nobody waits for them any more.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/debug_sink.h"
#include "platform/file_system.h"
#include "platform/file_trust.h"
#include "platform/launcher.h"
#include "platform/no_destructor.h"
#include "platform/path_map.h"
#include "platform/process_list.h"

extern char** environ;

namespace snx::platform {

namespace {

using Steady = std::chrono::steady_clock;
constexpr auto kPollSlice = std::chrono::milliseconds(100);

// Children nobody waits for any more: reaped as they end, by a thread that runs while there
// are any.
class Reaper {
 public:
  void Add(pid_t pid) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(pid);
    if (!running_) {
      running_ = true;
      std::thread([this] { Loop(); }).detach();
    }
  }

 private:
  void Loop() {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        std::erase_if(pending_, [](pid_t pid) {
          int status = 0;
          const pid_t r = ::waitpid(pid, &status, WNOHANG);
          return r == pid || (r < 0 && errno == ECHILD);
        });
        if (pending_.empty()) {
          running_ = false;
          return;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  }

  std::mutex mutex_;
  std::vector<pid_t> pending_;
  bool running_ = false;
};

Reaper& Reaped() {
  static NoDestructor<Reaper> reaper;
  return *reaper.get();
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool EndsWithExe(std::string_view word) {
  return word.size() > 4 && EqualsNoCase(word.substr(word.size() - 4), ".exe");
}

// The program word without a trailing ".exe" (any case), for comparing with the built-ins.
std::string_view WithoutExe(std::string_view word) {
  return EndsWithExe(word) ? word.substr(0, word.size() - 4) : word;
}

// PATH search for a name without a separator; "" when none is found.
std::string SearchPath(const std::string& name) {
  const char* env = ::getenv("PATH");
  const std::string path = (env != nullptr && *env != '\0') ? env : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(':', start);
    const std::string_view dir = std::string_view(path).substr(
        start, end == std::string::npos ? std::string::npos : end - start);
    std::string candidate;
    candidate.reserve(dir.size() + name.size() + 2);
    candidate.append(dir.empty() ? std::string_view(".") : dir).append(1, '/').append(name);
    if (IsExecutableFile(candidate)) return candidate;
    if (end == std::string::npos) return "";
    start = end + 1;
  }
}

// Finds the program a word names: a word with a separator as a path (mapped), any other on
// PATH; a name ending in ".exe" that is not found is tried without it. "" when not found;
// `exists` tells whether a file of that name is there at all (found but not executable).
std::string Resolve(const std::string& word, bool& exists) {
  exists = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::string w = attempt == 0 ? word : std::string(WithoutExe(word));
    if (attempt == 1 && !EndsWithExe(word)) break;
    if (w.find('/') != std::string::npos || w.find('\\') != std::string::npos) {
      const std::string path = ToPosixPath(FoldSeparators(w));
      if (IsExecutableFile(path)) return path;
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        exists = true;
        return path;  // let the start report why it cannot run
      }
    } else {
      const std::string found = SearchPath(w);
      if (!found.empty()) return found;
    }
  }
  return "";
}

LaunchResult Failed(LaunchOutcome outcome, std::string detail) {
  LaunchResult r;
  r.outcome = outcome;
  r.detail = std::move(detail);
  return r;
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

class PosixLauncher final : public Launcher {
 public:
  explicit PosixLauncher(const LauncherContext& context) : context_(context) {}

  LaunchResult Run(const LaunchRequest& request) override {
    if (!request.argv.empty()) return RunArgv(request);
    std::vector<std::string> words = SplitCommandLine(request.command_line);
    if (words.empty()) return Failed(LaunchOutcome::kBadCommand, "empty command line");
    const std::string_view name = WithoutExe(words[0]);
    if (EqualsNoCase(name, "KILL")) return Kill(words);
    if (EqualsNoCase(name, "Regsvr32")) return Register(words);
    if (EqualsNoCase(name, "IISRESET")) {
      std::string program = InstallFolder() + "iisreset";
      if (!IsExecutableFile(program)) program = SearchPath("iisreset");
      if (program.empty()) {
        return Failed(LaunchOutcome::kNotFound, "no iisreset in the install folder or on PATH");
      }
      words[0] = program;
      return Spawn(words, request);
    }
    bool exists = false;
    const std::string program = Resolve(words[0], exists);
    if (program.empty()) return Failed(LaunchOutcome::kNotFound, "program not found: " + words[0]);
    words[0] = program;
    for (std::size_t i = 1; i < words.size(); ++i) words[i] = FoldSeparators(words[i]);
    return Spawn(words, request);
  }

 private:
  // The program and its arguments as given: only the program is looked up (PATH for a name).
  LaunchResult RunArgv(const LaunchRequest& request) {
    std::vector<std::string> words = request.argv;
    const std::string& program = words[0];
    const std::string found =
        program.find('/') != std::string::npos ? program : SearchPath(program);
    if (found.empty() || !IsExecutableFile(found)) {
      struct stat st {};
      const bool exists = !found.empty() && ::stat(found.c_str(), &st) == 0;
      return Failed(exists ? LaunchOutcome::kStartFailed : LaunchOutcome::kNotFound,
                    (exists ? "not executable: " : "program not found: ") + program);
    }
    words[0] = found;
    return Spawn(words, request);
  }

  std::string InstallFolder() const {
    if (!context_.install_folder.empty()) {
      std::string f = context_.install_folder;
      if (f.back() != '/') f += '/';
      return f;
    }
    const std::string exe = Use<FileSystem>().ExecutablePath();
    const std::size_t cut = exe.rfind('/');
    return cut == std::string::npos ? "./" : exe.substr(0, cut + 1);
  }

  LaunchResult Spawn(const std::vector<std::string>& words, const LaunchRequest& request) {
    if (request.trusted_only) {
      if (const std::string why = UntrustedFileReason(words[0]); !why.empty()) {
        return Failed(LaunchOutcome::kStartFailed, "refused: " + words[0] + " " + why);
      }
    }
    std::vector<char*> argv;
    for (const auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    // Hidden: no terminal input or output. Normal: the service's own output.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (request.window == LaunchWindow::kHidden) {
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    // A group of its own, so the KILL guard for our group never protects what we started, and
    // default signal handling whatever this process has set.
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigfillset(&defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_USEVFORK);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (error != 0) {
      return Failed(error == ENOENT ? LaunchOutcome::kNotFound : LaunchOutcome::kStartFailed,
                    words[0] + ": " + std::strerror(error));
    }
    LaunchResult result;
    result.pid = pid;
    result.detail = words[0];
    if (!request.wait) {
      Reaped().Add(pid);
      result.outcome = LaunchOutcome::kStarted;
      return result;
    }
    Wait(pid, request, result);
    return result;
  }

  // Waits for the child: its end, the time limit or the stop predicate, whichever comes first.
  static void Wait(pid_t pid, const LaunchRequest& request, LaunchResult& result) {
    const auto deadline = Steady::now() + BoundedWait(request.max_wait);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    auto fallback_nap = std::chrono::milliseconds(1);
    for (;;) {
      int status = 0;
      const pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid || (r < 0 && errno != EINTR)) {
        result.outcome = LaunchOutcome::kExited;
        result.exit_code = r == pid ? ExitCodeOf(status) : -1;
        break;
      }
      if (request.stop && request.stop()) {
        result.outcome = LaunchOutcome::kStopped;
        break;
      }
      const auto now = Steady::now();
      if (now >= deadline) {
        result.outcome = LaunchOutcome::kTimedOut;
        break;
      }
      const auto slice = std::min<Steady::duration>(deadline - now, kPollSlice);
      if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(slice).count();
        ::poll(&p, 1, static_cast<int>(ms));
      } else {
        std::this_thread::sleep_for(std::min<Steady::duration>(slice, fallback_nap));
        fallback_nap = std::min(fallback_nap * 2, std::chrono::milliseconds(50));
      }
    }
    if (pidfd >= 0) ::close(pidfd);
    if (result.outcome != LaunchOutcome::kExited) {
      result.detail += " still running; left running";
      DebugOutput("Launcher: gave up waiting for " + result.detail + "\n");
      Reaped().Add(pid);
    }
  }

  // "KILL [/f] PID" or "KILL [/f] NAME".
  LaunchResult Kill(const std::vector<std::string>& words) {
    LaunchResult result;
    result.built_in = true;
    result.outcome = LaunchOutcome::kExited;
    result.detail = "KILL";
    std::string target;
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (EqualsNoCase(words[i], "/f") || EqualsNoCase(words[i], "-f")) continue;
      if (!target.empty()) return Failed(LaunchOutcome::kBadCommand, "KILL takes one target");
      target = words[i];
    }
    if (target.empty()) return Failed(LaunchOutcome::kBadCommand, "KILL needs a pid or a name");
    std::vector<int> pids;
    if (std::all_of(target.begin(), target.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      pids.push_back(target.size() > 9 ? 0 : std::atoi(target.c_str()));
    } else {
      const std::string_view stem = BaseStem(target);
      std::vector<ProcessInfo> list;
      Processes().Snapshot(list);
      for (const auto& p : list) {
        if (EqualsNoCase(BaseStem(p.base_name), stem)) pids.push_back(p.pid);
      }
    }
    const pid_t self = ::getpid();
    const pid_t self_group = ::getpgrp();
    int killed = 0;
    for (const int pid : pids) {
      const pid_t group = pid > 0 ? ::getpgid(pid) : -1;
      if (pid <= 0 || group < 0 || !KillAllowed(pid, self, group, self_group)) continue;
      if (::kill(pid, SIGKILL) == 0) ++killed;
    }
    // As the system's kill program: 0 when something was killed, 128 when nothing was.
    result.exit_code = killed > 0 ? 0 : 128;
    result.detail += " " + target + ": " + std::to_string(killed) + " killed";
    return result;
  }

  // "Regsvr32 [/s] [/u] FILE".
  LaunchResult Register(const std::vector<std::string>& words) {
    bool unregister = false;
    std::string file;
    for (std::size_t i = 1; i < words.size(); ++i) {
      const std::string& w = words[i];
      if (EqualsNoCase(w, "/s") || EqualsNoCase(w, "-s")) continue;
      if (EqualsNoCase(w, "/u") || EqualsNoCase(w, "-u")) {
        unregister = true;
        continue;
      }
      if (!file.empty()) return Failed(LaunchOutcome::kBadCommand, "Regsvr32 takes one file");
      file = w;
    }
    if (file.empty()) return Failed(LaunchOutcome::kBadCommand, "Regsvr32 needs a file");
    std::string path = FoldSeparators(file);
    if (path.find('/') == std::string::npos) path = InstallFolder() + path;
    std::string why;
    LaunchResult result;
    result.built_in = true;
    result.outcome = LaunchOutcome::kExited;
    if (context_.components != nullptr) {
      result.exit_code = context_.components->RegisterPlugin(path, unregister, &why);
    } else {
      why = "no component factory";
      result.exit_code = 3;
    }
    result.detail = "Regsvr32 " + path + (why.empty() ? "" : ": " + why);
    if (result.exit_code != 0) DebugOutput("Launcher: " + result.detail + "\n");
    return result;
  }

  ProcessList& Processes() {
    return context_.processes != nullptr ? *context_.processes : Use<ProcessList>();
  }

  LauncherContext context_;
};

}  // namespace

std::unique_ptr<Launcher> NewPosixLauncher(const LauncherContext& context) {
  return std::make_unique<PosixLauncher>(context);
}

template <>
Launcher& DefaultFacility<Launcher>() {
  static NoDestructor<PosixLauncher> launcher(LauncherContext{});
  return *launcher.get();
}

}  // namespace snx::platform

#pragma once
// Starting programs from a command line, as the restart program and the restart driver do.
//
// No shell is involved. The line is split into words (SplitCommandLine: blanks separate,
// double quotes group); a word holding "\" has its runs of "\" and "/" folded to one "/", and
// the program word also goes through the path mapping (ToPosixPath), so the escaped forms
// "C:\\Tools\\go.exe" and "\\usr\\bin\\app" run the program meant. A program word without a
// separator is looked up on PATH. A program that is not found and ends in ".exe" (any case) is
// tried once more without it.
//
// The system programs are built in (the program word compared without case, with or without
// ".exe"):
//   KILL /f PID | KILL /f NAME   SIGKILL to that pid, or to every process whose base stem
//                                equals NAME's stem (without case). Never to pid <= 1, to this
//                                process or to a member of this process's group.
//   Regsvr32 [/s] [/u] FILE      registers (or with /u unregisters) the plug-in FILE through the
//                                plug-in registrar the launcher was given (the component
//                                factory); FILE without a folder is taken from the install
//                                folder.
//   IISRESET[.exe] [ARGS]        runs the web-server reset command: an executable "iisreset" in
//                                the install folder, else on PATH, with ARGS.
//
// Waits. A wait for a child ends when it exits, when `max_wait` has passed, or when `stop`
// answers true (polled at least every 100 ms of real time). A child that outlives its wait is
// left running and reaped later; every child is reaped.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/installed.h"

namespace snx::platform {

class ProcessList;

enum class LaunchWindow { kNormal, kHidden };

enum class LaunchOutcome {
  kExited,       // the program ran and ended; exit_code holds its code (128 + signal if killed)
  kStarted,      // started and not waited for (wait was false)
  kTimedOut,     // still running when max_wait had passed; left running
  kStopped,      // still running when `stop` answered true; left running
  kNotFound,     // no such program (also after the ".exe" fallback)
  kStartFailed,  // found but could not be started (permissions, not executable, no memory)
  kBadCommand,   // empty line, or a built-in with arguments it does not take
};

const char* LaunchOutcomeName(LaunchOutcome outcome);

struct LaunchRequest {
  std::string command_line;
  // When not empty: the program (a POSIX path or a name looked up on PATH) and its arguments,
  // passed to it exactly as they stand: no splitting, no folding of separators, no built-ins.
  // For texts from outside (message texts, names). `command_line` then only describes the
  // request (log lines, the fake launcher's scripts).
  std::vector<std::string> argv;
  LaunchWindow window = LaunchWindow::kNormal;
  bool wait = true;
  // Bounds every wait; the engine's max wait (300 s) by default.
  std::chrono::milliseconds max_wait = std::chrono::seconds(300);
  // Ends the wait early when it answers true (a STOP or the kill request). May be empty.
  std::function<bool()> stop;
  // Start the program only when its file, where it was found, passes the file trust rule
  // (platform/file_trust.h); otherwise kStartFailed with "refused: FILE WHY" in the detail.
  bool trusted_only = false;
};

struct LaunchResult {
  LaunchOutcome outcome = LaunchOutcome::kBadCommand;
  int exit_code = -1;  // kExited only
  int pid = 0;         // the child's pid once started; 0 for a built-in or a failed start
  bool built_in = false;
  // What was run (the resolved program path, or the built-in's name) and, on a failure, why.
  std::string detail;

  bool Ran() const {
    return outcome == LaunchOutcome::kExited || outcome == LaunchOutcome::kStarted;
  }
  bool ExitedWith(int code) const { return outcome == LaunchOutcome::kExited && exit_code == code; }
};

class Launcher {
 public:
  virtual ~Launcher() = default;
  virtual LaunchResult Run(const LaunchRequest& request) = 0;

  // The usual forms: start and wait, start without waiting.
  LaunchResult RunAndWait(std::string_view line, LaunchWindow window,
                          std::chrono::milliseconds max_wait, std::function<bool()> stop = {});
  LaunchResult RunNoWait(std::string_view line, LaunchWindow window);
};

template <>
Launcher& DefaultFacility<Launcher>();

// What "Regsvr32" calls: loads the plug-in at `module_path` and calls its register entry, or
// its unregister entry. The component layer's factory is one. Answers the exit code of the
// system's registration program: 0 done, 3 cannot load, 4 no entry, 5 the entry failed; `why`
// says why not.
class PluginRegistrar {
 public:
  virtual ~PluginRegistrar() = default;
  virtual int RegisterPlugin(std::string_view module_path, bool unregister, std::string* why) = 0;
};

// What the real launcher needs: where the install folder is (for Regsvr32 and IISRESET), the
// component factory (Regsvr32) and the process list (KILL by name).
struct LauncherContext {
  std::string install_folder;             // POSIX path ending in "/"; "" = the executable's folder
  PluginRegistrar* components = nullptr;  // null = "Regsvr32" cannot load (exit code 3)
  ProcessList* processes = nullptr;       // null = the installed one
};
std::unique_ptr<Launcher> NewPosixLauncher(const LauncherContext& context);

// ---- pure helpers (command_line.cc) ------------------------------------------------------

// Splits a command line into words: blanks and tabs separate; a double quote starts or ends a
// quoted part (its blanks belong to the word); "" inside a quoted part is one quote; 2n
// backslashes before a quote are n backslashes and the quote acts, 2n+1 are n backslashes and a
// literal quote; other backslashes stand as they are. Words are at most kMaxCommandLine bytes
// in all; a longer line gives no words.
inline constexpr std::size_t kMaxCommandLine = 32768;
std::vector<std::string> SplitCommandLine(std::string_view line);

// A word holding "\" with its runs of "\" and "/" folded to one "/"; other words as they are.
std::string FoldSeparators(std::string_view word);

// The base stem of a path or program name: its last component (after "\" or "/") up to its
// first ".". "C:\\Apps\\Server.exe" -> "Server"; "python3.11" -> "python3".
std::string_view BaseStem(std::string_view path);

// True when `pid` may be sent a signal by the built-in KILL: above 1, not `self`, and not in
// the process group `self_group` (pass the group of `pid` as `group_of_pid`).
bool KillAllowed(int pid, int self, int group_of_pid, int self_group);

}  // namespace snx::platform

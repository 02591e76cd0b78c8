#pragma once
// snxctl's sub-commands register themselves here; main() dispatches on the first argument.

#include <string>
#include <vector>

namespace snxctl {

struct SubCommand {
  const char* name;     // "conf", "probe", ...
  const char* summary;  // one line for `snxctl --help`
  // Runs with the arguments after the sub-command's name; returns the exit code.
  int (*run)(const std::vector<std::string>& args);
};

void RegisterSubCommand(const SubCommand& command);
const std::vector<SubCommand>& SubCommands();

struct SubCommandRegistrar {
  explicit SubCommandRegistrar(const SubCommand& command) { RegisterSubCommand(command); }
};

// One line per companion whose class keys name another class or a plug-in file that is gone
// (a companion that is not registered is no problem: Go registers it).
std::vector<std::string> RegistrationProblems();

// The folder of snxctl itself (the install folder, ending in "/"); "" when it cannot be told.
std::string InstallFolder();

// Exit codes shared by the sub-commands.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the operation ran and failed (or the answer is "no")
constexpr int kExitUsage = 2;    // bad arguments

// A bad argument: one line saying what is wrong, a pointer to `snxctl COMMAND --help` (not the
// whole help) on stderr; returns kExitUsage. `command` is "conf", "probe", ... or "" for snxctl.
int UsageError(const std::string& command, const std::string& message);

}  // namespace snxctl

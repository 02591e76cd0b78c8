// snxctl: the administrator's tool beside the service.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "snx_version.h"
#include "snxctl/subcommand.h"

namespace snxctl {

namespace {
std::vector<SubCommand>& Registry() {
  static std::vector<SubCommand> commands;
  return commands;
}

void PrintHelp(FILE* out) {
  std::fprintf(out,
               "usage: snxctl COMMAND [ARGS...]\n"
               "       snxctl COMMAND --help\n"
               "       snxctl --version\n\ncommands:\n");
  std::vector<SubCommand> sorted = SubCommands();
  std::sort(sorted.begin(), sorted.end(), [](const SubCommand& a, const SubCommand& b) {
    return std::strcmp(a.name, b.name) < 0;
  });
  for (const auto& c : sorted) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
}
}  // namespace

std::string InstallFolder() {
  const std::string exe = snx::platform::Files().ExecutablePath();
  return exe.substr(0, exe.rfind('/') + 1);
}

void RegisterSubCommand(const SubCommand& command) { Registry().push_back(command); }
const std::vector<SubCommand>& SubCommands() { return Registry(); }

}  // namespace snxctl

namespace {

int Dispatch(int argc, char** argv) {
  using namespace snxctl;
  if (argc < 2) {
    PrintHelp(stderr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(stdout);
    return kExitOk;
  }
  if (name == "--version") {
    std::printf("snxctl %s\n", SNX_VERSION);
    return kExitOk;
  }
  for (const auto& c : SubCommands()) {
    if (name == c.name) return c.run(std::vector<std::string>(argv + 2, argv + argc));
  }
  return UsageError("", "unknown command '" + name + "'");
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing a command meets may end the tool with an uncaught exception and a core dump: one
  // line and exit 1.
  try {
    return Dispatch(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "snxctl: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "snxctl: unexpected failure\n");
  }
  return snxctl::kExitFailure;
}

// The one shape of a usage error for every sub-command.

#include <cstdio>

#include "platform/visible_text.h"
#include "snxctl/subcommand.h"

namespace snxctl {

int UsageError(const std::string& command, const std::string& message) {
  const std::string name = command.empty() ? "snxctl" : "snxctl " + command;
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", name.c_str(),
               snx::platform::VisibleText(message).c_str(), name.c_str());
  return kExitUsage;
}

}  // namespace snxctl

// The state root of this process, taken from SNX_ROOT.

#include <stdlib.h>

#include "platform/path_map.h"

namespace snx::platform {

std::string StateRoot() {
  const char* root = getenv("SNX_ROOT");
  if (root == nullptr || *root == '\0') return "/";
  return root;
}

std::string StateDir() { return UnderRoot(StateRoot(), "var/lib/snxsvc"); }

std::string RuntimeDir() { return UnderRoot(StateRoot(), "run/snxsvc"); }

std::string ToPosixPath(std::string_view text) { return MapPathText(text, StateRoot()); }

}  // namespace snx::platform

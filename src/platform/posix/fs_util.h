#pragma once
// Small POSIX helpers shared by the POSIX facilities. Paths here are POSIX paths already.

#include <string>

namespace snx::platform::posix {

// mkdir -p: creates the folder and its parents (mode 0755 before the umask). True when the
// folder exists afterwards.
bool MakeFolderTree(const std::string& path);

}  // namespace snx::platform::posix

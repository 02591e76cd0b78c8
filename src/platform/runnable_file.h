#pragma once
// Whether a file can be run as a program, for the companions that run an administrator's
// command from a fixed place (the dial command of the voice alert).

#include <string_view>

namespace snx::platform {

// True when `path` (a POSIX path) names a regular file, after symbolic links, that this
// process may execute.
bool IsRunnableFile(std::string_view path);

}  // namespace snx::platform

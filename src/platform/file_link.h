#pragma once
// Symbolic links, as the install puts the shipped systemd units where systemd finds them.
// Paths are POSIX paths.

#include <string>
#include <string_view>

namespace snx::platform {

// Makes `link` a symbolic link to `target`, replacing a link or file already there (ln -sfn).
// "" on success, else why not.
std::string ReplaceWithLink(std::string_view target, std::string_view link);

// True when `path` is a symbolic link (whether or not its target exists).
bool IsLink(std::string_view path);

}  // namespace snx::platform

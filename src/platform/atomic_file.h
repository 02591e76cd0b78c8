#pragma once
// Replacing a whole file so that a crash or a power loss leaves the old file or the new one,
// never a hole or half of each; and never writing through a symbolic link an attacker planted.
// Every file the service saves whole (settings, key store, heartbeat, metrics) goes through it.

#include <string_view>

#include "platform/file_system.h"

namespace snx::platform {

// Writes `bytes` to a new temporary file beside `path` (created exclusively, never through a
// symbolic link, with `mode` permissions), syncs it, renames it over `path` and syncs the
// folder. On failure the temporary is removed, `path` is as it was, and LastFileError() names
// the file and the reason.
bool ReplaceFileWith(FileSystem& files, std::string_view path, std::string_view bytes,
                     unsigned mode);

// How long a read-modify-write waits for another one of the same file before it gives up.
inline constexpr std::chrono::milliseconds kUpdateLockWait{10000};

}  // namespace snx::platform

#pragma once
// The end of a file that only grows, read without reading the rest: a reader that wants the last
// line of a file of many megabytes reads a few kilobytes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace snx::platform {

// At most the last `max_bytes` bytes of the regular file at `path` (a path text of the system,
// mapped with ToPosixPath). nullopt when it cannot be opened or read, or is not a regular file
// (a pipe or a device is never waited on); `why`, when given, then says so.
std::optional<std::string> ReadFileTail(std::string_view path, std::size_t max_bytes,
                                        std::string* why = nullptr);

}  // namespace snx::platform

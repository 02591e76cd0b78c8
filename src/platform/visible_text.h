#pragma once
// Text that comes from outside (HTTP headers, /proc names and command lines, mail server replies,
// socket request lines) is shown and logged through VisibleText, so that no control character of
// a peer's choosing reaches a terminal or splits a log line.

#include <string>
#include <string_view>

namespace snx::platform {

// Control characters (0x00-0x1f and 0x7f) are written as escapes: "\n", "\r", "\t" by name and
// the rest as "\xNN" (lower-case hex). Every other byte, a backslash included, stays as it is, so
// Windows-style path texts read as before and UTF-8 text is not broken up.
std::string VisibleText(std::string_view text);

// True when VisibleText would change nothing.
bool IsVisibleText(std::string_view text);

}  // namespace snx::platform

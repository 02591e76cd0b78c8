#pragma once
// The systemd unit that "snxsvc -Service" writes: $SNX_ROOT/etc/systemd/system/snxsvc.service.

#include <string>
#include <string_view>

namespace snxsvc {

// The unit's path under the state root ("/" or a test's folder).
std::string UnitFilePath(std::string_view root);

// The unit's text for the executable at `executable` (a POSIX path). `root` other than "/" is
// passed on as SNX_ROOT so a service installed under a test root keeps to it.
std::string UnitFileText(std::string_view executable, std::string_view root);

// A word of an ExecStart= or Environment= line as systemd reads it: quoted when it holds blanks
// or quotes, with "%" and "$" doubled so they are not specifiers or variables.
std::string SystemdWord(std::string_view text);

}  // namespace snxsvc

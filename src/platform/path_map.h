#pragma once
// Turning the system's Windows-style path texts into POSIX paths.
//
// Runs of "\" and "/" become one "/"; a drive prefix "X:" maps to <root>/var/lib/snxsvc/drives/X;
// a rooted text whose first component is one of the Windows top-level folders the system uses
// maps under the "C" drive; any other text is a POSIX path as it stands.

#include <string>
#include <string_view>

namespace snx::platform {

// Pure mapping with an explicit state root (the value of SNX_ROOT; "/" by default).
std::string MapPathText(std::string_view text, std::string_view root);

// <root>/<relative> with exactly one "/" between them; an empty root counts as "/".
std::string UnderRoot(std::string_view root, std::string_view relative);

// The state root: $SNX_ROOT, or "/" when it is unset or empty.
std::string StateRoot();
// <root>/var/lib/snxsvc and <root>/run/snxsvc, without a trailing "/".
std::string StateDir();
std::string RuntimeDir();

// The service's systemd unit as "snxsvc -Service" writes it, and the link "systemctl enable"
// makes so that the machine starts it at boot; both relative to the state root.
inline constexpr const char* kServiceUnitFile = "etc/systemd/system/snxsvc.service";
inline constexpr const char* kServiceUnitBootLink =
    "etc/systemd/system/multi-user.target.wants/snxsvc.service";

// MapPathText with the process's state root. Every file, folder and launch call uses it.
std::string ToPosixPath(std::string_view text);

// True for "\" and "/": wherever the system treats a text as a path both separate components.
inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace snx::platform

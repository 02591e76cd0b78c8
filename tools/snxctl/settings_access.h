#pragma once
// Whether this user may read the settings file at all, told before a command loads it: a member
// of snxadm who may drive the service but not read AutoSet.caf (mode 0600, owned by the
// service's user) should hear that, not that the file cannot be found.

#include <string>

namespace snxctl {

// Why the settings file in `folder` cannot be read by this user; "" when it can or is missing.
std::string SettingsUnreadable(const std::string& folder);

}  // namespace snxctl

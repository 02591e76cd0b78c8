#pragma once
// Whether a file that the service takes commands from may be trusted. The service runs as root
// and starts the command lines such files hold, so a file that someone other than its owner may
// change is not to be trusted: one writable by its group or by everyone, or owned by a user
// other than root or the service's own user.

#include <string>
#include <string_view>

namespace snx::platform {

// "" when the file at the path text may be trusted (or does not exist); otherwise why not, as
// a phrase that follows the file's name ("is writable by everyone (mode 0666)").
std::string UntrustedFileReason(std::string_view path_text);

}  // namespace snx::platform

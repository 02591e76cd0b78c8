#pragma once
// Whether a file that the service takes commands or code from may be trusted (the restart
// program, the plug-ins, the dial command, the programs it starts). The service runs as root,
// so a file that someone other than root or the service's own user may change is not to be
// trusted: one writable by its group or by everyone, or owned by another user; or one in a
// folder where another user may replace it: a folder owned by another user, or writable by its
// group or by everyone without the sticky bit (/tmp is fine; its sticky bit keeps others from
// renaming or removing files they do not own). A symbolic link is judged by the file it leads
// to, and the folders of both the link and that file are judged.

#include <string>
#include <string_view>

namespace snx::platform {

// "" when the file at the path text may be trusted (or does not exist); otherwise why not, as
// a phrase that follows the file's name ("is writable by everyone (mode 0666)", "lies in
// /srv/apps/, a folder writable by its group (mode 0775)").
std::string UntrustedFileReason(std::string_view path_text);

}  // namespace snx::platform

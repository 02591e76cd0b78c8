#include "platform/file_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace snx::platform {

std::string ReplaceWithLink(std::string_view target, std::string_view link) {
  // The new link is made beside the old one and renamed over it: no moment without a unit.
  const std::string path(link);
  const std::string temporary = path + ".snx-new";
  ::unlink(temporary.c_str());
  if (::symlink(std::string(target).c_str(), temporary.c_str()) != 0 ||
      ::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(temporary.c_str());
    return why;
  }
  return {};
}

bool IsLink(std::string_view path) {
  struct stat info {};
  return ::lstat(std::string(path).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace snx::platform

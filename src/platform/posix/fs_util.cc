#include "platform/posix/fs_util.h"

#include <errno.h>
#include <sys/stat.h>

namespace snx::platform::posix {
namespace {

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool MakeFolderTree(const std::string& path) {
  if (path.empty()) return false;
  if (IsFolder(path)) return true;
  // Make each prefix that ends just before a "/", then the whole path.
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    if (path[i - 1] == '/') continue;
    const std::string prefix = path.substr(0, i);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST && !IsFolder(prefix)) return false;
  }
  return IsFolder(path);
}

}  // namespace snx::platform::posix

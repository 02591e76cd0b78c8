#pragma once
// The install folder an snxctl command works on: --dir F, else the folder of snxctl itself.

#include <string>

#include "platform/file_system.h"

namespace snxctl {

// "" when it cannot be told.
inline std::string InstallFolderOr(const std::string& given) {
  std::string folder = given;
  if (folder.empty()) {
    const std::string exe = snx::platform::Use<snx::platform::FileSystem>().ExecutablePath();
    const std::size_t cut = exe.rfind('/');
    if (cut == std::string::npos) return "";
    folder = exe.substr(0, cut);
  }
  if (folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace snxctl

#include "snxctl/settings_access.h"

#include "files/all_sets.h"
#include "files/ram_file_ro.h"
#include "platform/file_system.h"
#include "platform/path_map.h"

namespace snxctl {

std::string SettingsUnreadable(const std::string& folder) {
  namespace sp = snx::platform;
  const std::string path =
      sp::ToPosixPath(CRamFileRO::JoinPath(folder, CAllSets::kSettingsFileName));
  if (!sp::Files().Exists(path) || sp::Files().Open(path, "rb")) return "";
  return sp::LastFileError() +
         " (the settings file is readable by its owner only: run as root or as the user the "
         "service runs as)";
}

}  // namespace snxctl

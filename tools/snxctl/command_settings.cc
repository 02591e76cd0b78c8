#include "snxctl/command_settings.h"

#include <cstdio>

#include "platform/file_system.h"
#include "platform/path_map.h"
#include "snxctl/kept_log.h"
#include "snxctl/settings_access.h"
#include "snxctl/subcommand.h"

namespace snxctl {

bool LoadFolderSettings(const std::string& command, std::string folder, CRamFileRO& image,
                        CAllSets& settings) {
  auto fail = [&command](const std::string& message) {
    std::fprintf(stderr, "snxctl %s: %s\n", command.c_str(), message.c_str());
    return false;
  };
  if (folder.empty()) folder = InstallFolder();
  if (folder.empty()) return fail("cannot tell the folder of snxctl; give --dir");
  if (!snx::platform::Files().FolderExists(folder)) return fail("no such folder: " + folder);
  const std::string path = CRamFileRO::JoinPath(folder, CAllSets::kSettingsFileName);
  if (!snx::platform::Files().Exists(path)) {
    return fail("no settings file at " + snx::platform::ToPosixPath(path));
  }
  if (const std::string why = SettingsUnreadable(folder); !why.empty()) return fail(why);
  settings.SetProgramDirectory(folder);
  settings.SetSettingsImage(&image);
  KeptLog errors(KeptLines::kErrorsOnly);
  if (!settings.ReInitialize()) {
    fail("cannot read " + snx::platform::ToPosixPath(path));
    errors.Print("  ");
    return false;
  }
  return true;
}

}  // namespace snxctl

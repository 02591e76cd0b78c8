#pragma once
// The settings of an install folder, loaded for a command that only reads them: a missing
// AutoSet.caf is an error (loading would make one), never created.

#include <string>

#include "files/all_sets.h"
#include "files/ram_file_ro.h"

namespace snxctl {

// Loads the settings of `folder` ("" for the install folder). On failure it prints
// "snxctl COMMAND: why" (and the loader's error lines) on stderr and returns false.
bool LoadFolderSettings(const std::string& command, std::string folder, CRamFileRO& image,
                        CAllSets& settings);

}  // namespace snxctl

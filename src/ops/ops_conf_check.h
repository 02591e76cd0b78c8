#pragma once
// The check of the whole configuration an administrator writes: the settings file and the
// restart program of the install folder. `snxctl conf check` prints its lines; the operations
// thread logs them when Go starts, so a slip in a file shows in SNXSVC.log and not only as an
// alert that never came.

#include <string>
#include <string_view>
#include <vector>

class CAllSets;

namespace snx::ops {

// One line per problem of the settings file's deciphered lines and of the restart program in
// `install_folder`; empty when both are sound.
std::vector<std::string> ConfigurationProblems(const std::vector<std::string>& settings_lines,
                                               std::string_view install_folder);

// Writes each problem of the loaded settings and the restart program as a log line.
void LogConfigurationProblems(CAllSets& settings, std::string_view install_folder);

}  // namespace snx::ops

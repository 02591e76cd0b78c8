#include "ops/ops_conf_check.h"

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "files/settings_check.h"
#include "platform/path_map.h"
#include "platform/runnable_file.h"
#include "recovery/mender.h"
#include "recovery/restart_program_check.h"

namespace snx::ops {

std::vector<std::string> ConfigurationProblems(const std::vector<std::string>& settings_lines,
                                               std::string_view install_folder) {
  std::string folder = snx::platform::ToPosixPath(install_folder);
  if (!folder.empty() && folder.back() != '/') folder.push_back('/');
  snx::settings::SettingsCheckOptions options;
  options.dial_command_present = snx::platform::IsRunnableFile(folder + "voice-dial");
  std::vector<std::string> problems = snx::settings::CheckSettingsLines(settings_lines, options);
  const std::vector<std::string> program =
      snx::recovery::CheckRestartProgram(folder + CMender::kProgramFile, CMender::kProgramFile);
  problems.insert(problems.end(), program.begin(), program.end());
  return problems;
}

void LogConfigurationProblems(CAllSets& settings, std::string_view install_folder) {
  if (settings.SettingsImage() == nullptr) return;
  for (const std::string& line :
       ConfigurationProblems(settings.SettingsImage()->Lines(), install_folder)) {
    LogMessage("Warning: " + line);
  }
}

}  // namespace snx::ops

#include "recovery/restart_program_check.h"

#include "files/settings_check.h"
#include "platform/file_system.h"
#include "platform/file_trust.h"
#include "platform/path_map.h"
#include "recovery/ini_file.h"

namespace snx::recovery {

const std::vector<std::string_view>& RestartStepKinds() {
  static const std::vector<std::string_view> kinds = {"Begin",
                                                      "End",
                                                      "Detect",
                                                      "Stop",
                                                      "Wait",
                                                      "Start",
                                                      "StartAndComplete",
                                                      "StartWithInternetExplorer",
                                                      "WaitForFile",
                                                      "DeleteSignalFile"};
  return kinds;
}

const std::vector<std::string_view>& RestartSettingKeys() {
  static const std::vector<std::string_view> keys = {
      "RetryCount", "MaxWait", "DomainName", "UserName", "Password", "PathToInternetExplorer"};
  return keys;
}

bool IsOneOf(std::string_view key, const std::vector<std::string_view>& names) {
  const CQorStr trimmed(key);
  for (const std::string_view name : names) {
    if (trimmed.IsSame(name)) return true;
  }
  return false;
}

namespace {

bool HasSeparator(std::string_view text) { return text.find_first_of("\\/") != std::string::npos; }

bool IsWholeNumber(std::string_view text) {
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

std::vector<std::string> CheckRestartProgram(std::string_view path, std::string_view shown) {
  std::vector<std::string> problems;
  const auto at = [&](int line) {
    return std::string(shown) + " line " + std::to_string(line) + ": ";
  };
  if (!snx::platform::Files().Exists(snx::platform::ToPosixPath(path))) {
    problems.push_back(std::string(shown) + ": missing; the restart engine does not start " +
                       "without it (install the example Sentinex.ini)");
    return problems;
  }
  if (const std::string why = snx::platform::UntrustedFileReason(path); !why.empty()) {
    problems.push_back(std::string(shown) + " " + why + ": it is not read");
    return problems;
  }
  CIniFile ini;
  if (!ini.Initialize(path) || !ini.GetFirstKeyAndValue()) {
    problems.push_back(std::string(shown) +
                       (ini.Failed() ? ": cannot be read whole" : ": holds no KEY=VALUE line") +
                       "; the restart engine does not start with it");
    return problems;
  }
  std::vector<std::string_view> known = RestartStepKinds();
  known.insert(known.end(), RestartSettingKeys().begin(), RestartSettingKeys().end());
  do {
    const CQorStr& key = ini.Key();
    const CQorStr& value = ini.Value();
    if (key.IsSame("Detect") && !HasSeparator(value)) {
      problems.push_back(at(ini.LineNumber()) + "Detect=" + value.ToString() +
                         ": needs a folder and a file name");
    } else if ((key.IsSame("RetryCount") || key.IsSame("MaxWait") || key.IsSame("Wait")) &&
               !IsWholeNumber(value)) {
      problems.push_back(at(ini.LineNumber()) + key.ToString() + "=" + value.ToString() +
                         ": expected a whole number of " +
                         (key.IsSame("RetryCount") ? "tries" : "seconds"));
    } else if (!IsOneOf(key, known)) {
      const std::string nearest = snx::settings::NearestName(key, known);
      problems.push_back(at(ini.LineNumber()) + "unknown step " + key.ToString() +
                         (nearest.empty() ? ": it is skipped" : ": did you mean " + nearest + "?"));
    }
  } while (ini.GetNextKeyAndValue());
  if (ini.Failed()) problems.push_back(at(ini.LineNumber() + 1) + "cannot be read whole");
  return problems;
}

}  // namespace snx::recovery

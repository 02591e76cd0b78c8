#include "service/service_switch.h"

#include "platform/ascii.h"

namespace snxsvc {

ServiceSwitch ParseServiceSwitch(std::string_view line) {
  struct Named {
    std::string_view name;
    ServiceSwitch value;
  };
  static constexpr Named kSwitches[] = {{"UnregServer", ServiceSwitch::kUnregServer},
                                        {"RegServer", ServiceSwitch::kRegServer},
                                        {"Service", ServiceSwitch::kService},
                                        {"Foreground", ServiceSwitch::kForeground}};
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '-' && line[i] != '/') continue;
    const std::string_view rest = line.substr(i + 1);
    for (const Named& s : kSwitches) {
      if (snx::platform::EqualsNoCase(rest, s.name)) return s.value;
    }
  }
  return ServiceSwitch::kNone;
}

std::string JoinArguments(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line.push_back(' ');
    line.append(argv[i]);
  }
  return line;
}

}  // namespace snxsvc

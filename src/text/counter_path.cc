#include "text/counter_path.h"

#include "platform/ascii.h"

namespace snx::platform {

namespace {
constexpr const char* kNames[kProcessCounterCount] = {
    "Elapsed Time", "IO Data Bytes/sec", "IO Data Operations/sec", "IO Other Operations/sec"};

// A machine or instance name: non-empty, without "\", "(", ")" or control characters.
bool IsName(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '(' || c == ')' || u < 0x20 || u == 0x7F) return false;
  }
  return true;
}
}  // namespace

const char* ProcessCounterName(ProcessCounter counter) { return kNames[static_cast<int>(counter)]; }

ProcessCounter ProcessCounterAt(int order) {
  return static_cast<ProcessCounter>(order < 0 ? 0 : order % kProcessCounterCount);
}

std::string BuildCounterPath(std::string_view machine, std::string_view stem,
                             ProcessCounter counter) {
  std::string path = "\\\\";
  path += machine;
  path += "\\Process(";
  path += stem;
  path += ")\\";
  path += ProcessCounterName(counter);
  return path;
}

std::optional<CounterPath> ParseCounterPath(std::string_view path) {
  if (path.size() > kMaxCounterPath || path.size() < 2 || path.substr(0, 2) != "\\\\") {
    return std::nullopt;
  }
  std::string_view rest = path.substr(2);
  const std::size_t slash = rest.find('\\');
  if (slash == std::string_view::npos) return std::nullopt;
  CounterPath out;
  const std::string_view machine = rest.substr(0, slash);
  rest = rest.substr(slash + 1);
  constexpr std::string_view kObject = "Process(";
  if (rest.size() < kObject.size() || !EqualsNoCase(rest.substr(0, kObject.size()), kObject)) {
    return std::nullopt;
  }
  rest = rest.substr(kObject.size());
  const std::size_t close = rest.find(")\\");
  if (close == std::string_view::npos) return std::nullopt;
  const std::string_view stem = rest.substr(0, close);
  const std::string_view name = rest.substr(close + 2);
  if (!IsName(machine) || !IsName(stem)) return std::nullopt;
  for (int i = 0; i < kProcessCounterCount; ++i) {
    if (EqualsNoCase(name, kNames[i])) {
      out.machine = std::string(machine);
      out.stem = std::string(stem);
      out.counter = static_cast<ProcessCounter>(i);
      return out;
    }
  }
  return std::nullopt;
}

}  // namespace snx::platform

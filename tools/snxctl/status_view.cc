#include "snxctl/status_view.h"

#include <cstdio>
#include <ctime>

#include "ops/ops_status.h"
#include "platform/visible_text.h"
#include "text/control_protocol.h"

namespace snxctl {
namespace {

using nlohmann::json;
namespace sp = snx::platform;

std::optional<json> ObjectAfter(const std::string& line, std::string_view prefix) {
  if (!line.starts_with(prefix)) return std::nullopt;
  json object = json::parse(line.substr(prefix.size()), nullptr, false);
  if (!object.is_object()) return std::nullopt;
  return object;
}

std::string TimeOr(const json& value, std::string (*format)(std::int64_t)) {
  return value.is_number_integer() ? format(value.get<std::int64_t>()) : "-";
}

std::string TextOf(const json& object, const char* key) {
  const auto at = object.find(key);
  return at != object.end() && at->is_string() ? sp::VisibleText(at->get<std::string>()) : "";
}

const char* KindLabel(const std::string& kind) {
  if (kind == "local_url") return "local URL";
  if (kind == "remote_url") return "remote URL";
  if (kind == "program") return "program";
  if (kind == "restart") return "restart";
  return kind.c_str()[0] != '\0' ? "spare" : "-";
}

// "45s", "4m 10s", "1h 05m", "2d 03h".
std::string Span(std::int64_t seconds) {
  char text[32];
  if (seconds < 60) {
    std::snprintf(text, sizeof(text), "%llds", static_cast<long long>(seconds));
  } else if (seconds < 3600) {
    std::snprintf(text, sizeof(text), "%lldm %02llds", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  } else if (seconds < 86400) {
    std::snprintf(text, sizeof(text), "%lldh %02lldm", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds % 3600 / 60));
  } else {
    std::snprintf(text, sizeof(text), "%lldd %02lldh", static_cast<long long>(seconds / 86400),
                  static_cast<long long>(seconds % 86400 / 3600));
  }
  return text;
}

std::string Local(std::int64_t epoch_seconds, const char* format) {
  const std::time_t t = static_cast<std::time_t>(epoch_seconds);
  std::tm parts{};
  char text[32] = "";
  if (::localtime_r(&t, &parts) != nullptr) std::strftime(text, sizeof(text), format, &parts);
  return text;
}

}  // namespace

std::string LocalClock(std::int64_t epoch_seconds) { return Local(epoch_seconds, "%H:%M:%S"); }
std::string LocalDateTime(std::int64_t epoch_seconds) {
  return Local(epoch_seconds, "%Y-%m-%d %H:%M:%S");
}

std::optional<json> StatusObject(const std::vector<std::string>& lines, std::string& why) {
  if (lines.empty()) {
    why = "the Status answer is empty";
    return std::nullopt;
  }
  std::optional<json> status = ObjectAfter(lines[0], sp::kStatusHead);
  if (!status) {
    why = "unreadable Status line: " + sp::VisibleText(lines[0].substr(0, 80));
    return std::nullopt;
  }
  json items = json::array();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::optional<json> item = ObjectAfter(lines[i], sp::kStatusItem);
    if (!item) {
      why = "unreadable item line: " + sp::VisibleText(lines[i].substr(0, 80));
      return std::nullopt;
    }
    items.push_back(std::move(*item));
  }
  (*status)["items"] = std::move(items);
  return status;
}

std::string StatusTable(const json& status, std::int64_t now) {
  std::size_t name_width = 4;
  for (const json& item : status["items"]) {
    name_width = std::max(name_width, TextOf(item, "name").size());
  }
  name_width = std::min<std::size_t>(name_width, 60);
  std::string out;
  char line[256];
  const auto row = [&](const std::string& kind, const std::string& name, const std::string& state,
                       const std::string& since, const std::string& checked,
                       const std::string& http, const std::string& took) {
    std::snprintf(line, sizeof(line), "%-11s ", kind.c_str());
    out += line;
    out += name;
    if (name.size() < name_width) out.append(name_width - name.size(), ' ');
    std::snprintf(line, sizeof(line), "  %-8s %-19s  %-19s  %-4s  %s\n", state.c_str(),
                  since.c_str(), checked.c_str(), http.c_str(), took.c_str());
    out += line;
  };
  row("KIND", "NAME", "STATE", "SINCE", "LAST CHECK", "HTTP", "TIME");
  for (const json& item : status["items"]) {
    const json& ms = item.value("response_ms", json(nullptr));
    const json& http = item.value("http_status", json(nullptr));
    row(KindLabel(item.value("kind", "")), TextOf(item, "name"), item.value("state", "-"),
        TimeOr(item.value("since_epoch", json(nullptr)), LocalDateTime),
        TimeOr(item.value("last_check_epoch", json(nullptr)), LocalDateTime),
        http.is_number() ? std::to_string(http.get<long long>()) : "-",
        ms.is_number() ? std::to_string(ms.get<long long>()) + " ms" : "-");
  }
  const std::int32_t state = status.value("ops_state", 0);
  out += "\noperations: " + std::to_string(state) + " " + OpsStateName(state) +
         (status.value("go_loop_running", false) ? " (Go loop running)" : "") + "\n";
  out += "action:     " + TextOf(status, "action") + "\n";
  out += "object:     " + TextOf(status, "object") + "\n";
  const json& next = status.value("next_test_epoch", json(nullptr));
  if (next.is_number_integer()) {
    const std::int64_t at = next.get<std::int64_t>();
    out += "next test:  " + LocalDateTime(at) + " (" +
           (at > now ? "in " + Span(at - now) : std::string("due")) + ")\n";
  } else {
    out += "next test:  - (Go mode is not waiting)\n";
  }
  return out;
}

json StateObject(std::int32_t state, bool go_loop_running, const std::optional<std::string>& guard,
                 const std::optional<std::string>& resumed) {
  json out;
  out["ops_state"] = state;
  out["ops_state_name"] = OpsStateName(state);
  out["go_loop_running"] = go_loop_running;
  long reboots = 0;
  long cap = 0;
  unsigned long long withheld = 0;
  if (guard && std::sscanf(guard->c_str(), "%ld %ld %llu", &reboots, &cap, &withheld) == 3) {
    out["reboots_last_24h"] = reboots;
    out["max_reboots_per_day"] = cap;
    out["reboots_withheld"] = withheld;
  } else {
    out["reboots_last_24h"] = nullptr;
    out["max_reboots_per_day"] = nullptr;
    out["reboots_withheld"] = nullptr;
  }
  if (resumed && !resumed->empty()) {
    out["resumed_reason"] = *resumed;
  } else {
    out["resumed_reason"] = nullptr;
  }
  return out;
}

void PrintJson(const json& object) {
  const std::string text = object.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace snxctl

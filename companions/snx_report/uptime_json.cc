#include "uptime_json.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "platform/visible_text.h"

namespace snx::report {
namespace {

using nlohmann::json;

const char* KindOf(std::int32_t type) {
  switch (type) {
    case kProgramItem:
      return "program";
    case kLocalUrlItem:
      return "local_url";
    case kRemoteUrlItem:
      return "remote_url";
    case kRestartItem:
      return "restart";
    default:
      return "spare";
  }
}

const char* StateOf(ItemState state) {
  return state == ItemState::kUp ? "up" : state == ItemState::kDown ? "down" : "unknown";
}

template <class T>
json OrNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

// A time as two keys: `key` in ISO 8601 (UTC) and `key`_epoch in seconds; null when unknown.
void PutTime(json& out, const std::string& key, std::optional<UnixSeconds> when) {
  out[key] = when ? json(IsoUtc(*when)) : json(nullptr);
  out[key + "_epoch"] = OrNull(when);
}

json ItemJson(const ItemRow& row) {
  const ItemFigures& f = row.figures;
  const bool restart = row.item->type == kRestartItem;
  // The "Restart" item counts restarts and reboots; the others have an availability.
  auto unless_restart = [restart](json value) { return restart ? json(nullptr) : value; };
  json item;
  item["kind"] = KindOf(row.item->type);
  item["type"] = row.item->type;
  item["name"] = platform::VisibleText(row.item->name);
  item["availability_percent"] =
      unless_restart(f.availability ? json(ShownAvailability(*f.availability)) : json(nullptr));
  item["up_seconds"] = unless_restart(f.up_seconds);
  item["down_seconds"] = unless_restart(f.down_seconds);
  item["outages"] = unless_restart(f.outages);
  item["longest_outage_seconds"] =
      unless_restart(f.outages > 0 ? json(f.longest_outage) : json(nullptr));
  item["mttr_seconds"] = unless_restart(OrNull(f.mean_time_to_recovery));
  item["restarts"] = restart ? json(f.up_reports) : json(nullptr);
  item["reboots"] = restart ? json(f.down_reports) : json(nullptr);
  PutTime(item, "cert_expiry", row.item->cert_expiry);
  item["state"] = StateOf(f.state);
  // The "Restart" item's state is that of its last restart or reboot, and since then.
  PutTime(item, "since",
          f.state == ItemState::kNoReport
              ? std::nullopt
              : std::optional<UnixSeconds>(restart ? f.last_report : f.since));
  return item;
}

}  // namespace

std::string IsoUtc(UnixSeconds t) {
  const CivilTime c = CivilFromSeconds(t);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", c.year, c.month, c.day, c.hour,
                c.minute, c.second);
  return text;
}

std::string RenderJson(const UptimeReport& report) {
  const UptimeRecord& record = *report.record;
  json out;
  PutTime(out, "since", report.window.from);
  PutTime(out, "until", report.window.to);
  json files = json::array();
  for (const std::string& file : record.files) files.push_back(platform::VisibleText(file));
  out["files"] = std::move(files);
  out["reports"] = record.reports;
  out["lines_skipped"] = record.skipped;
  out["lines_too_long"] = record.too_long;
  json items = json::array();
  for (const ItemRow& row : report.rows) items.push_back(ItemJson(row));
  out["items"] = std::move(items);
  return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace snx::report

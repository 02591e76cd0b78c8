#include "uptime_metrics.h"

#include <cstdlib>

#include "platform/atomic_file.h"
#include "platform/visible_text.h"
#include "uptime_figures.h"

namespace snx::report {
namespace {

const char* TypeName(std::int32_t type) {
  switch (type) {
    case kProgramItem:
      return "program";
    case kLocalUrlItem:
      return "local_url";
    case kRemoteUrlItem:
      return "remote_url";
    default:
      return "spare";
  }
}

// The length of the UTF-8 sequence at `at`, or 0 when it is not one.
std::size_t Utf8Length(std::string_view s, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  std::size_t n = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (n == 0 || at + n > s.size()) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  return n;
}

// A label value: visible, valid UTF-8 (other bytes become "?"), with \ " and newline escaped.
std::string LabelValue(std::string_view raw) {
  const std::string text = platform::VisibleText(raw);
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      out.push_back('?');
      ++i;
      continue;
    }
    const char c = text[i];
    if (c == '\\' || c == '"') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out;
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

std::string ItemLabels(const MetricsItem& item) {
  return std::string("{type=\"") + TypeName(item.type) + "\",name=\"" + LabelValue(item.name) +
         "\"}";
}

}  // namespace

std::string FormatMetrics(const MetricsSnapshot& s) {
  std::string out;
  if (!s.items.empty()) {
    Family(out, "snxsvc_item_up", "gauge",
           "Whether the monitored item's last report was up (1) or down (0).");
    for (const MetricsItem& item : s.items) {
      out += "snxsvc_item_up" + ItemLabels(item) + (item.up ? " 1\n" : " 0\n");
    }
    Family(out, "snxsvc_item_last_change_timestamp_seconds", "gauge",
           "When the monitored item's present state began, in seconds since the Unix epoch.");
    for (const MetricsItem& item : s.items) {
      out += "snxsvc_item_last_change_timestamp_seconds" + ItemLabels(item) + " " +
             std::to_string(item.last_change) + "\n";
    }
  }
  if (s.restarts) {
    Family(out, "snxsvc_restarts_total", "counter",
           "Restarts of the server's applications that the watchdog decided.");
    out += "snxsvc_restarts_total " + std::to_string(*s.restarts) + "\n";
  }
  if (s.reboots) {
    Family(out, "snxsvc_reboots_total", "counter", "Reboots that the watchdog decided.");
    out += "snxsvc_reboots_total " + std::to_string(*s.reboots) + "\n";
  }
  if (s.ops_state) {
    Family(out, "snxsvc_ops_state", "gauge",
           "The operations state: 999 ready, 1000 stopped, 1001 watching, 1002 testing, 1003 "
           "restarting, 1004 stopped after failures, 1005 remote URLs failing, 1006 stopping.");
    out += "snxsvc_ops_state " + std::to_string(*s.ops_state) + "\n";
  }
  if (s.last_cycle) {
    Family(out, "snxsvc_last_cycle_timestamp_seconds", "gauge",
           "When the last test cycle ended, in seconds since the Unix epoch.");
    out += "snxsvc_last_cycle_timestamp_seconds " + std::to_string(*s.last_cycle) + "\n";
  }
  if (s.alerts) {
    Family(out, "snxsvc_alerts_sent_total", "counter", "Alerts sent, by channel and event.");
    static constexpr const char* kChannels[kAlertChannels] = {"email", "phone"};
    static constexpr const char* kEvents[kAlertEvents] = {"server_down", "server_up",
                                                          "remote_down", "remote_up"};
    for (int c = 0; c < kAlertChannels; ++c) {
      for (int e = 0; e < kAlertEvents; ++e) {
        out += std::string("snxsvc_alerts_sent_total{channel=\"") + kChannels[c] +
               "\",event=\"" + kEvents[e] + "\"} " + std::to_string((*s.alerts)[c][e]) + "\n";
      }
    }
  }
  return out;
}

bool WriteMetricsFile(platform::FileSystem& files, std::string_view path,
                      const MetricsSnapshot& snapshot) {
  return platform::ReplaceFileWith(files, path, FormatMetrics(snapshot), 0644);
}

std::string MetricsFileSetting() {
  const char* path = std::getenv("SNX_METRICS_FILE");
  return path != nullptr ? path : "";
}

MetricsSnapshot MetricsFromRecord(const UptimeRecord& record) {
  MetricsSnapshot s;
  s.restarts = 0;
  s.reboots = 0;
  for (const ItemReports& item : record.items) {
    if (item.reports.empty()) continue;
    if (item.type == kRestartItem) {
      for (const Report& r : item.reports) ++*(r.Up() ? s.restarts : s.reboots);
      continue;
    }
    const Span& last = SpansOf(item, 0).back();
    s.items.push_back({item.type, item.name, last.up, last.start});
  }
  return s;
}

MetricsBook::MetricsBook() {
  snapshot_.restarts = 0;
  snapshot_.reboots = 0;
  snapshot_.alerts.emplace();
  for (auto& channel : *snapshot_.alerts) channel.fill(0);
}

void MetricsBook::NoteItem(std::int32_t type, std::string_view name, bool up,
                           UnixSeconds report_time) {
  if (type == kRestartItem) return;
  for (MetricsItem& item : snapshot_.items) {
    if (item.type != type || item.name != name) continue;
    if (item.up != up) item.up = up, item.last_change = report_time;
    return;
  }
  snapshot_.items.push_back({type, std::string(name), up, report_time});
}

void MetricsBook::CountAlert(AlertChannel channel, AlertEvent event) {
  ++(*snapshot_.alerts)[static_cast<int>(channel)][static_cast<int>(event)];
}

void MetricsBook::CycleDone(UnixSeconds when, std::int32_t ops_state) {
  snapshot_.last_cycle = when;
  snapshot_.ops_state = ops_state;
}

}  // namespace snx::report

#pragma once
// The watchdog's figures for Prometheus, in the text format that prometheus-node-exporter's
// textfile collector reads (--collector.textfile.directory). The service writes them after every
// cycle to the file SNX_METRICS_FILE names; `snxctl report --metrics` prints what the uptime
// log alone tells. Names begin with snxsvc_, counters end in _total.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log_time.h"
#include "platform/file_system.h"
#include "uptime_record.h"

namespace snx::report {

struct MetricsItem {
  std::int32_t type = 0;
  std::string name;
  bool up = false;
  UnixSeconds last_change = 0;  // the first report of its present state
};

enum class AlertChannel { kEmail, kPhone };
enum class AlertEvent { kServerDown, kServerUp, kRemoteDown, kRemoteUp };
inline constexpr int kAlertChannels = 2;
inline constexpr int kAlertEvents = 4;

// What is known goes out; a figure without a value is left out of the text.
struct MetricsSnapshot {
  std::vector<MetricsItem> items;  // the items that have reported; never the "Restart" item
  std::optional<std::uint64_t> restarts;
  std::optional<std::uint64_t> reboots;
  std::optional<std::int32_t> ops_state;     // 999 OPS_READY .. 1006 OPS_STOPPING
  std::optional<UnixSeconds> last_cycle;     // when the last cycle ended
  // Alerts sent, [channel][event].
  std::optional<std::array<std::array<std::uint64_t, kAlertEvents>, kAlertChannels>> alerts;
};

std::string FormatMetrics(const MetricsSnapshot& snapshot);

// Replaces the file whole (a temporary beside it, synced, then renamed; never through a symbolic
// link), readable by all (0644) for the node exporter's user. False on failure, with
// LastFileError() saying why; the file is then as it was.
bool WriteMetricsFile(platform::FileSystem& files, std::string_view path,
                      const MetricsSnapshot& snapshot);

// The path SNX_METRICS_FILE names; "" when it is unset or empty (then no file is written).
std::string MetricsFileSetting();

// What the uptime record alone tells: each item's last state and when it began, and the
// restarts and reboots (up and down reports of the "Restart" item) of the whole record.
MetricsSnapshot MetricsFromRecord(const UptimeRecord& record);

// The figures the operations thread keeps across its cycles.
class MetricsBook {
 public:
  MetricsBook();
  // After a cycle, for each item that has reported: up or not, and when that report came. A
  // change of state (or the first note of an item) takes that time as the time of the change.
  void NoteItem(std::int32_t type, std::string_view name, bool up, UnixSeconds report_time);
  void CountRestart() { ++*snapshot_.restarts; }
  void CountReboot() { ++*snapshot_.reboots; }
  void CountAlert(AlertChannel channel, AlertEvent event);
  void CycleDone(UnixSeconds when, std::int32_t ops_state);
  const MetricsSnapshot& Snapshot() const { return snapshot_; }

 private:
  MetricsSnapshot snapshot_;
};

}  // namespace snx::report

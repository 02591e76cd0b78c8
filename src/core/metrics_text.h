#pragma once
// The watchdog's figures for Prometheus, in the text format that prometheus-node-exporter's
// textfile collector reads (--collector.textfile.directory). The service writes them after every
// cycle to the file SNX_METRICS_FILE names; `snxctl report --metrics` prints what the uptime
// log alone tells. Names begin with snxsvc_, counters end in _total.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace snx::metrics {

struct MetricsItem {
  std::int32_t type = 0;  // the item type as the uptime log writes it (100 program .. 103)
  std::string name;
  bool up = false;
  std::int64_t last_change = 0;  // Unix seconds of the first report of its present state
};

// When the certificate of an https URL that was checked stops being valid.
struct CertExpiry {
  std::int32_t type = 0;    // 101 local URL, 102 remote URL
  std::string name;         // the URL
  std::int64_t expiry = 0;  // Unix seconds
};

// How long a tested URL's last answer took, to its last byte.
struct UrlResponse {
  std::int32_t type = 0;  // 101 local URL, 102 remote URL
  std::string url;
  std::int64_t ms = 0;
};

enum class AlertChannel { kEmail, kPhone };
enum class AlertEvent { kServerDown, kServerUp, kRemoteDown, kRemoteUp };
inline constexpr int kAlertChannels = 2;
inline constexpr int kAlertEvents = 4;
using AlertCounts = std::array<std::array<std::uint64_t, kAlertEvents>, kAlertChannels>;

// What is known goes out; a figure without a value is left out of the text.
struct MetricsSnapshot {
  std::vector<MetricsItem> items;  // the items that have reported; never the "Restart" item
  std::optional<std::uint64_t> restarts;
  std::optional<std::uint64_t> reboots;
  std::optional<std::uint64_t> reboots_withheld;
  std::optional<std::int32_t> ops_state;   // 999 OPS_READY .. 1006 OPS_STOPPING
  std::optional<std::int64_t> last_cycle;  // Unix seconds when the last cycle ended
  std::optional<AlertCounts> alerts;       // alerts sent, [channel][event]
  std::vector<CertExpiry> cert_expiries;   // the https URLs whose certificate is known
  std::vector<UrlResponse> url_responses;  // the URLs whose last test got an answer
  // Webhook posts by format ("json", "ntfy", "slack"): [0] answered 2xx, [1] failed.
  std::map<std::string, std::array<std::uint64_t, 2>> webhook_posts;
};

std::string FormatMetrics(const MetricsSnapshot& snapshot);

// Replaces the file whole (a temporary beside it, synced, then renamed; never through a symbolic
// link), readable by all (0644) for the node exporter's user. False on failure, with
// LastFileError() saying why; the file is then as it was.
bool WriteMetricsFile(platform::FileSystem& files, std::string_view path,
                      const MetricsSnapshot& snapshot);

}  // namespace snx::metrics

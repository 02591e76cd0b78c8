#pragma once
// COpsMetrics: the figures the operations thread keeps across its cycles for Prometheus (the
// text of core/metrics_text.h): each item's last report and when its state last changed, the
// restarts, reboots and reboots withheld decided so far, the alerts sent, the operations state
// and when the last cycle ended. After every cycle, and whenever an item changes state, the
// thread writes them to the metrics file.
//
// Only the operations thread touches it, and what it calls.

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/metrics_text.h"
#include "platform/clock.h"
#include "platform/file_system.h"

// Seconds since the Unix epoch of the clock's wall time.
inline std::int64_t UnixSecondsOf(snx::platform::Clock& clock) {
  return std::chrono::duration_cast<std::chrono::seconds>(clock.WallNow().time_since_epoch())
      .count();
}

class COpsMetrics {
 public:
  // The counters, bumped where the thread decides.
  std::uint64_t m_iRestarts = 0;
  std::uint64_t m_iReboots = 0;
  // Reboots decided but held back instead of made (counted by whoever withholds them).
  std::uint64_t m_iRebootsWithheld = 0;

  // An up or down report of an item at `when`. A change of state (or the first report of an
  // item) takes that time as the time of the change. The "Restart" item is counted apart.
  // True when the item changed state: up to down, down to up, or a first report that is down
  // (the first report of an item that is up is no change).
  bool NoteItem(std::int32_t type, std::string_view name, bool up, std::int64_t when);
  // The time a URL's answer took to its last byte; none when its test got no answer.
  void NoteUrlTime(std::int32_t type, std::string_view url,
                   std::optional<std::chrono::milliseconds> elapsed);
  // An alert that went out.
  void CountAlert(snx::metrics::AlertChannel channel, snx::metrics::AlertEvent event);
  // A webhook post of that format ("json", "ntfy", "slack") and its result.
  void CountWebhook(const std::string& format, bool ok) { ++m_WebhookPosts[format][ok ? 0 : 1]; }
  void CycleEnded(std::int64_t when) { m_iLastCycle = when; }
  // The end of validity of a checked https URL's certificate (Unix seconds).
  void NoteCertExpiry(std::int32_t type, std::string_view url, std::int64_t expiry);

  snx::metrics::MetricsSnapshot Snapshot(std::int32_t ops_state) const;

  // Replaces the file at `path` (nothing when it is ""). A failure is logged, once until a write
  // succeeds again, and otherwise ignored: the figures stay for the next write.
  bool Write(snx::platform::FileSystem& files, std::string_view path, std::int32_t ops_state);

 private:
  // "type:name" of an item or URL, the key of the positions below.
  static std::string Keyed(std::int32_t type, std::string_view name);

  std::vector<snx::metrics::MetricsItem> m_Items;
  std::vector<snx::metrics::UrlResponse> m_UrlTimes;
  // Where each item and URL is in the lists above (they keep the order of first report).
  std::unordered_map<std::string, std::size_t> m_ItemAt;
  std::unordered_map<std::string, std::size_t> m_UrlTimeAt;
  snx::metrics::AlertCounts m_Alerts{};
  std::map<std::string, std::array<std::uint64_t, 2>> m_WebhookPosts;
  std::optional<std::int64_t> m_iLastCycle;
  std::vector<snx::metrics::CertExpiry> m_CertExpiries;
  bool m_bWriteFailing = false;
};

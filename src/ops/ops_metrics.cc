#include "ops/ops_metrics.h"

#include <algorithm>

#include "core/log_writer.h"
#include "probes/item.h"

std::string COpsMetrics::Keyed(std::int32_t type, std::string_view name) {
  std::string key = std::to_string(type);
  key += ':';
  key.append(name);
  return key;
}

bool COpsMetrics::NoteItem(std::int32_t type, std::string_view name, bool up, std::int64_t when) {
  if (type == ITEM_RESTART) return false;
  const auto [at, added] = m_ItemAt.try_emplace(Keyed(type, name), m_Items.size());
  if (added) {
    m_Items.push_back({type, std::string(name), up, when});
    return !up;
  }
  snx::metrics::MetricsItem& item = m_Items[at->second];
  if (item.up == up) return false;
  item.up = up;
  item.last_change = when;
  return true;
}

void COpsMetrics::NoteUrlTime(std::int32_t type, std::string_view url,
                              std::optional<std::chrono::milliseconds> elapsed) {
  std::string key = Keyed(type, url);
  const auto at = m_UrlTimeAt.find(key);
  if (elapsed && at != m_UrlTimeAt.end()) {
    m_UrlTimes[at->second].ms = elapsed->count();
  } else if (elapsed) {
    m_UrlTimeAt.emplace(std::move(key), m_UrlTimes.size());
    m_UrlTimes.push_back({type, std::string(url), elapsed->count()});
  } else if (at != m_UrlTimeAt.end()) {
    // A URL without an answer has no time; the ones after it move up by one.
    m_UrlTimes.erase(m_UrlTimes.begin() + static_cast<std::ptrdiff_t>(at->second));
    m_UrlTimeAt.clear();
    for (std::size_t i = 0; i < m_UrlTimes.size(); ++i) {
      m_UrlTimeAt.emplace(Keyed(m_UrlTimes[i].type, m_UrlTimes[i].url), i);
    }
  }
}

void COpsMetrics::CountAlert(snx::metrics::AlertChannel channel, snx::metrics::AlertEvent event) {
  ++m_Alerts[static_cast<int>(channel)][static_cast<int>(event)];
}

void COpsMetrics::NoteCertExpiry(std::int32_t type, std::string_view url, std::int64_t expiry) {
  for (snx::metrics::CertExpiry& cert : m_CertExpiries) {
    if (cert.type == type && cert.name == url) {
      cert.expiry = expiry;
      return;
    }
  }
  m_CertExpiries.push_back({type, std::string(url), expiry});
}

snx::metrics::MetricsSnapshot COpsMetrics::Snapshot(std::int32_t ops_state) const {
  snx::metrics::MetricsSnapshot s;
  s.items = m_Items;
  s.restarts = m_iRestarts;
  s.reboots = m_iReboots;
  s.reboots_withheld = m_iRebootsWithheld;
  s.ops_state = ops_state;
  s.last_cycle = m_iLastCycle;
  s.alerts = m_Alerts;
  s.cert_expiries = m_CertExpiries;
  s.webhook_posts = m_WebhookPosts;
  s.url_responses = m_UrlTimes;
  return s;
}

bool COpsMetrics::Write(snx::platform::FileSystem& files, std::string_view path,
                        std::int32_t ops_state) {
  if (path.empty()) return true;
  if (snx::metrics::WriteMetricsFile(files, path, Snapshot(ops_state))) {
    if (m_bWriteFailing) LogMessage("The metrics file is written again.");
    m_bWriteFailing = false;
    return true;
  }
  if (!m_bWriteFailing) {
    LogError("Cannot write the metrics file: " + snx::platform::LastFileError());
  }
  m_bWriteFailing = true;
  return false;
}

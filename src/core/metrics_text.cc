#include "core/metrics_text.h"

#include <cstdio>

#include "platform/atomic_file.h"
#include "platform/visible_text.h"

namespace snx::metrics {
namespace {

// The uptime log's item types: 100 program, 101 local URL, 102 remote URL.
const char* TypeName(std::int32_t type) {
  switch (type) {
    case 100:
      return "program";
    case 101:
      return "local_url";
    case 102:
      return "remote_url";
    default:
      return "spare";
  }
}

// The length of the UTF-8 sequence at `at`, or 0 when it is not one.
std::size_t Utf8Length(std::string_view s, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  std::size_t n = lead < 0x80         ? 1
                  : (lead >> 5) == 6  ? 2
                  : (lead >> 4) == 14 ? 3
                  : (lead >> 3) == 30 ? 4
                                      : 0;
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

// A family of one sample without labels, when its value is known.
template <typename T>
void Single(std::string& out, const char* name, const char* type, const char* help,
            const std::optional<T>& value) {
  if (!value) return;
  Family(out, name, type, help);
  out += std::string(name) + " " + std::to_string(*value) + "\n";
}

std::string ItemLabels(std::int32_t type, std::string_view name) {
  return std::string("{type=\"") + TypeName(type) + "\",name=\"" + LabelValue(name) + "\"}";
}

std::string ItemLabels(const MetricsItem& item) { return ItemLabels(item.type, item.name); }

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
  if (!s.cert_expiries.empty()) {
    Family(out, "snxsvc_cert_expiry_timestamp_seconds", "gauge",
           "When the certificate of the checked https URL expires, in seconds since the Unix "
           "epoch.");
    for (const CertExpiry& cert : s.cert_expiries) {
      out += "snxsvc_cert_expiry_timestamp_seconds" + ItemLabels(cert.type, cert.name) + " " +
             std::to_string(cert.expiry) + "\n";
    }
  }
  if (!s.url_responses.empty()) {
    Family(out, "snxsvc_url_response_seconds", "gauge",
           "How long the URL's last answer took, to its last byte.");
    for (const UrlResponse& r : s.url_responses) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(r.ms) / 1000.0);
      out += std::string("snxsvc_url_response_seconds{type=\"") + TypeName(r.type) + "\",url=\"" +
             LabelValue(r.url) + "\"} " + seconds + "\n";
    }
  }
  Single(out, "snxsvc_restarts_total", "counter",
         "Restarts of the server's applications that the watchdog decided.", s.restarts);
  Single(out, "snxsvc_reboots_total", "counter", "Reboots that the watchdog decided.", s.reboots);
  Single(out, "snxsvc_reboots_withheld_total", "counter",
         "Reboots that the watchdog decided but held back.", s.reboots_withheld);
  Single(out, "snxsvc_ops_state", "gauge",
         "The operations state: 999 ready, 1000 stopped, 1001 watching, 1002 testing, 1003 "
         "restarting, 1004 stopped after failures, 1005 remote URLs failing, 1006 stopping.",
         s.ops_state);
  Single(out, "snxsvc_last_cycle_timestamp_seconds", "gauge",
         "When the last test cycle ended, in seconds since the Unix epoch.", s.last_cycle);
  if (s.alerts) {
    Family(out, "snxsvc_alerts_sent_total", "counter", "Alerts sent, by channel and event.");
    static constexpr const char* kChannels[kAlertChannels] = {"email", "phone"};
    static constexpr const char* kEvents[kAlertEvents] = {"server_down", "server_up", "remote_down",
                                                          "remote_up"};
    for (int c = 0; c < kAlertChannels; ++c) {
      for (int e = 0; e < kAlertEvents; ++e) {
        out += std::string("snxsvc_alerts_sent_total{channel=\"") + kChannels[c] + "\",event=\"" +
               kEvents[e] + "\"} " + std::to_string((*s.alerts)[c][e]) + "\n";
      }
    }
  }
  if (!s.webhook_posts.empty()) {
    Family(out, "snxsvc_webhook_posts_total", "counter", "Webhook posts, by format and result.");
    for (const auto& [format, counts] : s.webhook_posts) {
      for (int r = 0; r < 2; ++r) {
        out += "snxsvc_webhook_posts_total{format=\"" + format + "\",result=\"" +
               (r == 0 ? "ok" : "failed") + "\"} " + std::to_string(counts[r]) + "\n";
      }
    }
  }
  return out;
}

bool WriteMetricsFile(platform::FileSystem& files, std::string_view path,
                      const MetricsSnapshot& snapshot) {
  return platform::ReplaceFileWith(files, path, FormatMetrics(snapshot), 0644);
}

}  // namespace snx::metrics

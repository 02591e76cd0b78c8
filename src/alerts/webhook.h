#pragma once
// The webhook alerts: each alert event is posted to every line of [WEBHOOKS], in the format the
// line names. json: the event as one JSON object (keys event, machine, time, items, text, and
// outage_seconds on an up event); ntfy: the text as a plain body with Title, Priority and Tags
// headers; slack: {"text": ..., "content": ...}, which Slack, Mattermost, Rocket.Chat and
// Discord take.
//
// CWebhookQueue holds the posts an alert decided until the operations thread has done what
// the cycle decided; a post that fails is tried once more at the next flush, then given up.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "alerts/alert_event.h"
#include "files/webhook_line.h"
#include "platform/http_client.h"

namespace snx::alerts {

using settings::WebhookFormat;
using settings::WebhookLine;

inline constexpr std::chrono::milliseconds kWebhookBound{10000};

// The event as the generic JSON object (one line).
std::string EventJson(const AlertEvent& event);
// The one-line text of the event: the headline and what the watchdog does.
std::string EventText(const AlertEvent& event);
// The POST for that webhook; false when its URL cannot be read.
bool BuildWebhookRequest(const WebhookLine& hook, const AlertEvent& event,
                         platform::HttpRequest& out,
                         std::chrono::milliseconds bound = kWebhookBound);

struct WebhookOutcome {
  WebhookLine hook;
  std::string event;   // the event's kind name
  bool ok = false;     // a 2xx answer came
  bool retry = false;  // this was the second try
  std::string answer;  // "HTTP 200", "HTTP 500", or why no answer came
};

// One post, bounded by `bound` in all.
WebhookOutcome PostWebhook(platform::HttpClient& http, const WebhookLine& hook,
                           const AlertEvent& event,
                           std::chrono::milliseconds bound = kWebhookBound);

class CWebhookQueue {
 public:
  // A post of `event` to each of `hooks`, made at the next Flush.
  void Add(const std::vector<WebhookLine>& hooks, const AlertEvent& event);
  // Posts what waits, in order: the failed posts of the last flush (their second and last
  // try), then the new ones. Each outcome is logged; `after_each`, when set, is called after
  // every post (the loop's life sign to the service manager).
  std::vector<WebhookOutcome> Flush(platform::HttpClient& http,
                                    const std::function<void()>& after_each = {});
  bool Empty() const { return m_Pending.empty(); }
  // Bound on each post (tests shorten it).
  void SetBound(std::chrono::milliseconds bound) { m_Bound = bound; }

 private:
  struct Pending {
    WebhookLine hook;
    AlertEvent event;
    bool retry = false;
  };
  std::vector<Pending> m_Pending;
  std::chrono::milliseconds m_Bound = kWebhookBound;
};

}  // namespace snx::alerts

// The webhook alerts of Go mode: queued where an alert is decided, posted at the end of the
// cycle, after the restart was made or the reboot asked for, so that no post (10 s at most
// each) ever holds up what the cycle decided.

#include <string>
#include <vector>

#include "core/log_writer.h"
#include "files/webhook_line.h"
#include "ops/ops_mngr_thread.h"
#include "platform/http_client.h"
#include "platform/watchdog.h"

void COpsMngrThread::QueueWebhooks(const snx::alerts::AlertEvent& event) {
  std::vector<snx::settings::WebhookLine> hooks;
  for (const std::string& line : SectionEntries(snx::settings::kWebhooksSection)) {
    snx::settings::WebhookLine hook;
    const std::string why = snx::settings::ParseWebhookLine(line, hook);
    if (why.empty()) {
      hooks.push_back(std::move(hook));
    } else {
      LogError("Webhook not posted: " + why + ".");
    }
  }
  m_Webhooks.Add(hooks, event);
}

void COpsMngrThread::FlushWebhooks() {
  if (m_Webhooks.Empty()) return;
  // Each post is bounded; the service manager's watchdog hears from the loop after every one.
  const auto outcomes = m_Webhooks.Flush(snx::platform::Use<snx::platform::HttpClient>(),
                                         [] { snx::platform::WatchdogPing(); });
  for (const auto& outcome : outcomes) {
    m_Metrics.CountWebhook(snx::settings::WebhookFormatName(outcome.hook.format), outcome.ok);
  }
}

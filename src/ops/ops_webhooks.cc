// The webhook alerts of Go mode: queued where an alert is decided, posted at the end of the
// cycle, after the restart was made or the reboot asked for, so that no post (10 s at most
// each) ever holds up what the cycle decided.

#include <string>
#include <vector>

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "files/webhook_line.h"
#include "ops/ops_mngr_thread.h"
#include "platform/http_client.h"
#include "platform/watchdog.h"

namespace {

// The webhooks trust what the https checks trust (CaFile besides the system's store) and go
// through the checks' proxy setting, not through one from the environment.
class WebhookHttp : public snx::platform::HttpClient {
 public:
  WebhookHttp(snx::platform::HttpClient& http, std::string ca_file, std::string proxy)
      : m_Http(http), m_sCaFile(std::move(ca_file)), m_sProxy(std::move(proxy)) {}
  snx::platform::HttpResult Fetch(const snx::platform::HttpRequest& request) override {
    snx::platform::HttpRequest req = request;
    if (req.https) req.ca_file = m_sCaFile;
    req.proxy = m_sProxy;
    return m_Http.Fetch(req);
  }

 private:
  snx::platform::HttpClient& m_Http;
  std::string m_sCaFile;
  std::string m_sProxy;
};

}  // namespace

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
  WebhookHttp http(snx::platform::Use<snx::platform::HttpClient>(),
                   m_pSettings->m_sCaFile.ToString(), m_pSettings->m_sProxy.ToString());
  const auto outcomes = m_Webhooks.Flush(http, [] { snx::platform::WatchdogPing(); });
  for (const auto& outcome : outcomes) {
    m_Metrics.CountWebhook(snx::settings::WebhookFormatName(outcome.hook.format), outcome.ok);
  }
}

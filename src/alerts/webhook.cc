#include "alerts/webhook.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "core/log_writer.h"
#include "platform/visible_text.h"
#include "text/url_parse.h"

namespace snx::alerts {
namespace {

using nlohmann::json;

std::string Dump(const json& object) {
  return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A header value on one line, whatever the settings or a peer put in the text.
std::string HeaderValue(std::string_view text) {
  std::string out(text);
  std::replace_if(
      out.begin(), out.end(),
      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }, ' ');
  return out;
}

const char* NtfyPriority(AlertKind kind) {
  switch (kind) {
    case AlertKind::kDown:
    case AlertKind::kRebootDecided:
      return "urgent";
    case AlertKind::kRebootWithheld:
      return "high";
    case AlertKind::kUp:
    case AlertKind::kCertWarning:
      break;
  }
  return "default";
}

const char* NtfyTags(AlertKind kind) {
  switch (kind) {
    case AlertKind::kDown:
      return "rotating_light";
    case AlertKind::kUp:
      return "white_check_mark";
    case AlertKind::kRebootDecided:
    case AlertKind::kRebootWithheld:
      return "arrows_counterclockwise";
    case AlertKind::kCertWarning:
      break;
  }
  return "warning";
}

}  // namespace

std::string EventText(const AlertEvent& event) {
  std::string text = Headline(event) + " (" + event.time + ")";
  for (const AlertItem& item : event.items) {
    if (item.state != "down") continue;
    text += "; " + item.name + " down";
    if (item.http_status) text += " (HTTP " + std::to_string(*item.http_status) + ")";
    if (!item.error.empty()) text += " (" + item.error + ")";
  }
  if (event.outage_seconds) text += "; the outage lasted " + DurationText(*event.outage_seconds);
  if (!event.action.empty()) text += ". " + event.action;
  return platform::VisibleText(text);
}

std::string EventJson(const AlertEvent& event) {
  json items = json::array();
  for (const AlertItem& item : event.items) {
    items.push_back({{"kind", item.kind},
                     {"name", item.name},
                     {"state", item.state},
                     {"http_status", item.http_status ? json(*item.http_status) : json(nullptr)},
                     {"error", item.error}});
  }
  json out = {{"event", AlertKindName(event.kind)},
              {"machine", event.machine},
              {"time", event.time},
              {"items", items},
              {"text", EventText(event)}};
  if (event.outage_seconds) out["outage_seconds"] = *event.outage_seconds;
  return Dump(out);
}

bool BuildWebhookRequest(const WebhookLine& hook, const AlertEvent& event,
                         platform::HttpRequest& out, std::chrono::milliseconds bound) {
  platform::UrlParts parts;
  if (!platform::ParseUrl(hook.url, parts) || (parts.service != platform::UrlService::kHttp &&
                                               parts.service != platform::UrlService::kHttps)) {
    return false;
  }
  out = platform::HttpRequest{};
  out.method = "POST";
  out.host = parts.host;
  out.port = parts.port;
  out.https = parts.service == platform::UrlService::kHttps;
  out.path = parts.object;
  out.connect_timeout = bound;
  out.total_timeout = bound;
  out.max_body_bytes = 1024;  // enough of an answer to log why a post was refused
  const std::string text = EventText(event);
  switch (hook.format) {
    case WebhookFormat::kJson:
      out.headers = {"Content-Type: application/json"};
      out.body = EventJson(event);
      break;
    case WebhookFormat::kSlack:
      out.headers = {"Content-Type: application/json"};
      out.body = Dump({{"text", text}, {"content", text}});
      break;
    case WebhookFormat::kNtfy:
      out.headers = {"Content-Type: text/plain; charset=utf-8",
                     "Title: " + HeaderValue(Headline(event)),
                     std::string("Priority: ") + NtfyPriority(event.kind),
                     std::string("Tags: ") + NtfyTags(event.kind)};
      out.body = text;
      break;
  }
  return true;
}

WebhookOutcome PostWebhook(platform::HttpClient& http, const WebhookLine& hook,
                           const AlertEvent& event, std::chrono::milliseconds bound) {
  WebhookOutcome outcome;
  outcome.hook = hook;
  outcome.event = AlertKindName(event.kind);
  platform::HttpRequest request;
  if (!BuildWebhookRequest(hook, event, request, bound)) {
    outcome.answer = "not an http:// or https:// URL";
    return outcome;
  }
  const platform::HttpResult result = http.Fetch(request);
  if (!result.answered) {
    outcome.answer = "no answer: " + platform::VisibleText(result.error_message);
    return outcome;
  }
  outcome.ok = result.status >= 200 && result.status <= 299;
  outcome.answer = "HTTP " + std::to_string(result.status);
  return outcome;
}

void CWebhookQueue::Add(const std::vector<WebhookLine>& hooks, const AlertEvent& event) {
  for (const WebhookLine& hook : hooks) m_Pending.push_back({hook, event, false});
}

std::vector<WebhookOutcome> CWebhookQueue::Flush(platform::HttpClient& http,
                                                 const std::function<void()>& after_each) {
  std::vector<Pending> pending;
  pending.swap(m_Pending);
  // The second tries first: they are the older news.
  std::stable_partition(pending.begin(), pending.end(), [](const Pending& p) { return p.retry; });
  std::vector<WebhookOutcome> outcomes;
  for (Pending& p : pending) {
    WebhookOutcome outcome = PostWebhook(http, p.hook, p.event, m_Bound);
    if (after_each) after_each();
    outcome.retry = p.retry;
    const std::string what = std::string("Webhook ") + settings::WebhookFormatName(p.hook.format) +
                             " " + platform::VisibleText(p.hook.url) + " (" + outcome.event +
                             "): " + outcome.answer;
    if (outcome.ok) {
      LogMessage(what);
    } else if (!p.retry) {
      LogError(what + "; tried again at the next cycle.");
      m_Pending.push_back({p.hook, std::move(p.event), true});
    } else {
      LogError(what + "; given up.");
    }
    outcomes.push_back(std::move(outcome));
  }
  return outcomes;
}

}  // namespace snx::alerts

#pragma once
// The lines of the settings section [WEBHOOKS]: "FORMAT URL", FORMAT one of json, ntfy and slack
// (without case), or a bare URL, which is json. The URL is http:// or https://.

#include <string>
#include <string_view>

namespace snx::settings {

inline constexpr const char* kWebhooksSection = "[WEBHOOKS]";

enum class WebhookFormat { kJson, kNtfy, kSlack };

// "json", "ntfy", "slack".
const char* WebhookFormatName(WebhookFormat format);

struct WebhookLine {
  WebhookFormat format = WebhookFormat::kJson;
  std::string url;
};

// Reads one line (blanks around ignored); "" when it is good, else why it is not.
std::string ParseWebhookLine(std::string_view line, WebhookLine& out);

// TEXT in double quotes, as the settings checks name a line they refuse.
std::string Quoted(std::string_view text);

}  // namespace snx::settings

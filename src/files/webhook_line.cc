#include "files/webhook_line.h"

#include "core/qor_str.h"
#include "platform/ascii.h"
#include "text/url_parse.h"

namespace snx::settings {

// Built by appends: GCC 12 at -O3 warns falsely (-Wrestrict) on "\"" + std::string(text).
std::string Quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  out.append(text);
  out.push_back('"');
  return out;
}

const char* WebhookFormatName(WebhookFormat format) {
  switch (format) {
    case WebhookFormat::kJson:
      return "json";
    case WebhookFormat::kNtfy:
      return "ntfy";
    case WebhookFormat::kSlack:
      return "slack";
  }
  return "json";
}

std::string ParseWebhookLine(std::string_view line, WebhookLine& out) {
  std::string_view text = CQorStr::Trimmed(line);
  out = WebhookLine{};
  const std::size_t blank = text.find_first_of(" \t");
  if (blank != std::string_view::npos) {
    const std::string_view word = text.substr(0, blank);
    bool known = false;
    for (const WebhookFormat format :
         {WebhookFormat::kJson, WebhookFormat::kNtfy, WebhookFormat::kSlack}) {
      if (platform::EqualsNoCase(word, WebhookFormatName(format))) {
        out.format = format;
        known = true;
      }
    }
    if (!known) return Quoted(word) + " is not a webhook format (json, ntfy, slack)";
    text = CQorStr::Trimmed(text.substr(blank));
  }
  platform::UrlParts parts;
  if (!platform::ParseUrl(text, parts) || (parts.service != platform::UrlService::kHttp &&
                                           parts.service != platform::UrlService::kHttps)) {
    return Quoted(text) + " is not an http:// or https:// URL";
  }
  out.url = std::string(text);
  return "";
}

}  // namespace snx::settings

// libFuzzer target: what a web server sends back. The bytes are split into a raw header text and
// a Location value; the header search, the URL parse and the redirect resolution must never
// crash, and a resolved location that parses must compose back to a URL that parses again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "probes/get_web_page.h"
#include "probes/url_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string location;
  snx::probes::FindLocationHeader(bytes, location);

  snx::probes::UrlParts base;
  if (!snx::probes::ParseUrl("http://127.0.0.1:8080/a/b/c?q=1", base)) __builtin_trap();
  const std::string resolved = snx::probes::ResolveReference(base, location);

  snx::probes::UrlParts parts;
  if (snx::probes::ParseUrl(resolved, parts) && parts.service == snx::probes::UrlService::kHttp) {
    snx::probes::UrlParts again;
    if (!snx::probes::ParseUrl(snx::probes::ComposeUrl(parts), again)) __builtin_trap();
  }
  snx::probes::ParseUrl(bytes, parts);
  return 0;
}

#pragma once
// Splitting a URL into service type, server, port and object path, resolving the target of a
// redirect against the URL that was asked for, and finding that target in an answer's header
// lines. Pure text work, no network: the web page fetch and the life-sign companion share it.

#include <cstdint>
#include <string>
#include <string_view>

namespace snx::platform {

enum class UrlService { kHttp, kHttps, kFtp, kFile, kOther };

struct UrlParts {
  UrlService service = UrlService::kOther;
  std::string scheme;  // lower case, as written before ":"
  std::string host;    // an IPv6 address without its brackets
  std::uint16_t port = 0;
  // The request target: path and query, beginning with "/". The fragment is never part of it;
  // bytes that may not stand in a request line (blanks, controls, bytes above 126) are written
  // as %XX.
  std::string object = "/";
};

// True when the text is a URL of the form scheme:... with a known scheme's parts in order; for
// the network schemes (http, https, ftp) the server must be there and the port, when given,
// must be 1..65535. The port defaults to the scheme's own (80 for http). A user name and
// password in the URL are dropped: the fetch never sends them.
bool ParseUrl(std::string_view url, UrlParts& out);

// The absolute URL that a Location value names when it is read against `base` (the URL that
// was asked for): absolute URLs stand as they are; "//server/x", "/x", "x", "../x", "?q" are
// resolved as browsers do. Empty when the value is empty.
std::string ResolveReference(const UrlParts& base, std::string_view reference);

// The URL text of the parts ("http://host:port/object").
std::string ComposeUrl(const UrlParts& parts);

// The value of the first "Location" header line of a raw header text (name matched without
// case, blanks and the line end stripped); false when there is none or it is empty.
bool FindLocationHeader(std::string_view raw_headers, std::string& location);

}  // namespace snx::platform

#include "text/url_parse.h"

#include <cctype>

#include "platform/ascii.h"

namespace snx::platform {
namespace {

// Puts a "/" before a path that does not start with one. Built anew rather than by insert(0, ..),
// which GCC 12 reports as an overlapping copy at -O3.
void EnsureLeadingSlash(std::string& path) {
  if (!path.empty() && path.front() == '/') return;
  std::string slashed("/");
  slashed.append(path);
  path.swap(slashed);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Length of the scheme at the start of the text ("http" of "http://x"), or 0 when the text
// does not begin with a scheme followed by ":".
std::size_t SchemeLength(std::string_view text) {
  if (text.empty() || !IsAlpha(text.front())) return 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') return i;
    if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

UrlService ServiceOf(std::string_view scheme) {
  if (scheme == "http") return UrlService::kHttp;
  if (scheme == "https") return UrlService::kHttps;
  if (scheme == "ftp") return UrlService::kFtp;
  if (scheme == "file") return UrlService::kFile;
  return UrlService::kOther;
}

std::uint16_t DefaultPort(UrlService service) {
  switch (service) {
    case UrlService::kHttp:
      return 80;
    case UrlService::kHttps:
      return 443;
    case UrlService::kFtp:
      return 21;
    default:
      return 0;
  }
}

bool IsNetworkService(UrlService service) {
  return service == UrlService::kHttp || service == UrlService::kHttps ||
         service == UrlService::kFtp;
}

bool IsHostChar(char c) { return IsAlpha(c) || IsDigit(c) || c == '-' || c == '.' || c == '_'; }

// Bytes that cannot stand in a request line are written as %XX, so that no blank, control
// character or line end of a URL ever reaches the wire as it is.
std::string EncodeTarget(std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F || c == '"' || c == '<' || c == '>') {
      out += '%';
      out += kHexDigits[b >> 4];
      out += kHexDigits[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string HostText(const UrlParts& parts) {
  if (parts.host.find(':') != std::string::npos) return "[" + parts.host + "]";
  return parts.host;
}

// The dot segments of a path removed ("/a/b/../c/./d" gives "/a/c/d").
std::string RemoveDotSegments(std::string_view path) {
  std::string in(path);
  std::string out;
  auto drop_last_segment = [&out] {
    const std::size_t cut = out.rfind('/');
    out.erase(cut == std::string::npos ? 0 : cut);
  };
  while (!in.empty()) {
    if (in.rfind("../", 0) == 0) {
      in.erase(0, 3);
    } else if (in.rfind("./", 0) == 0) {
      in.erase(0, 2);
    } else if (in.rfind("/./", 0) == 0) {
      in.erase(0, 2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.rfind("/../", 0) == 0) {
      in.erase(0, 3);
      drop_last_segment();
    } else if (in == "/..") {
      in = "/";
      drop_last_segment();
    } else if (in == "." || in == "..") {
      in.clear();
    } else {
      const std::size_t next = in.find('/', in.front() == '/' ? 1 : 0);
      out.append(in, 0, next);
      in.erase(0, next);
    }
  }
  return out;
}

}  // namespace

bool ParseUrl(std::string_view url, UrlParts& out) {
  out = UrlParts{};
  std::string_view text = TrimBlanks(url);
  const std::size_t scheme_length = SchemeLength(text);
  if (scheme_length == 0) return false;
  out.scheme = Lower(text.substr(0, scheme_length));
  out.service = ServiceOf(out.scheme);
  out.port = DefaultPort(out.service);
  std::string_view rest = text.substr(scheme_length + 1);
  const bool network = IsNetworkService(out.service);
  const bool has_authority = rest.substr(0, 2) == "//";
  if (network && !has_authority) return false;
  if (has_authority) {
    rest.remove_prefix(2);
    const std::size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host;
    std::string_view port;
    bool has_port = false;
    if (!authority.empty() && authority.front() == '[') {
      const std::size_t close = authority.find(']');
      if (close == std::string_view::npos) return false;
      host = authority.substr(1, close - 1);
      const std::string_view after = authority.substr(close + 1);
      if (!after.empty()) {
        if (after.front() != ':') return false;
        has_port = true;
        port = after.substr(1);
      }
      if (host.empty()) return false;
      for (const char c : host) {
        if (!IsHex(c) && c != ':' && c != '.') return false;
      }
    } else {
      const std::size_t colon = authority.find(':');
      host = authority.substr(0, colon);
      if (colon != std::string_view::npos) {
        has_port = true;
        port = authority.substr(colon + 1);
      }
      for (const char c : host) {
        if (!IsHostChar(c)) return false;
      }
    }
    if (network && host.empty()) return false;
    if (has_port && !port.empty()) {
      if (port.size() > 5) return false;
      unsigned value = 0;
      for (const char c : port) {
        if (!IsDigit(c)) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
      }
      if (value == 0 || value > 65535) return false;
      out.port = static_cast<std::uint16_t>(value);
    }
    out.host = std::string(host);
  }
  const std::size_t hash = rest.find('#');
  if (hash != std::string_view::npos) rest = rest.substr(0, hash);
  std::string object(rest);
  if (network) EnsureLeadingSlash(object);
  out.object = EncodeTarget(object);
  return true;
}

std::string ComposeUrl(const UrlParts& parts) {
  // Appended piece by piece: GCC 12 sees a false overlap in "text" + std::string at -O3.
  std::string url = parts.scheme;
  url.append("://").append(HostText(parts));
  if (parts.port != DefaultPort(parts.service)) url.append(":").append(std::to_string(parts.port));
  url.append(parts.object);
  return url;
}

std::string ResolveReference(const UrlParts& base, std::string_view reference) {
  std::string_view ref = TrimBlanks(reference);
  if (ref.empty()) return std::string();
  // An absolute URL: a scheme before any "/", "?" or "#".
  const std::size_t scheme_length = SchemeLength(ref);
  if (scheme_length > 0) return std::string(ref);
  if (ref.substr(0, 2) == "//") return base.scheme + ":" + std::string(ref);

  const std::size_t hash = ref.find('#');
  if (hash != std::string_view::npos) ref = ref.substr(0, hash);
  const std::size_t q = ref.find('?');
  const std::string_view ref_path = ref.substr(0, q);
  const std::string_view ref_query = q == std::string_view::npos ? "" : ref.substr(q);

  const std::string_view base_object = base.object;
  const std::size_t base_q = base_object.find('?');
  const std::string_view base_path = base_object.substr(0, base_q);
  const std::string_view base_query =
      base_q == std::string_view::npos ? "" : base_object.substr(base_q);

  std::string path;
  std::string query(ref_query);
  if (ref_path.empty()) {
    path = std::string(base_path);
    if (q == std::string_view::npos) query = std::string(base_query);
  } else if (ref_path.front() == '/') {
    path = RemoveDotSegments(ref_path);
  } else {
    const std::size_t slash = base_path.rfind('/');
    std::string merged(slash == std::string_view::npos ? "/" : base_path.substr(0, slash + 1));
    merged.append(ref_path);
    path = RemoveDotSegments(merged);
  }
  EnsureLeadingSlash(path);
  UrlParts target = base;
  target.object = path + query;
  return ComposeUrl(target);
}

bool FindLocationHeader(std::string_view raw_headers, std::string& location) {
  location.clear();
  std::string_view rest = raw_headers;
  bool first = true;
  while (!rest.empty()) {
    const std::size_t lf = rest.find('\n');
    std::string_view line = rest.substr(0, lf);
    rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {  // the status line
      first = false;
      continue;
    }
    if (line.empty()) break;  // the end of the header lines
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
    if (!EqualsNoCase(name, "Location")) continue;
    location.assign(TrimBlanks(line.substr(colon + 1)));
    return !location.empty();
  }
  return false;
}

}  // namespace snx::platform

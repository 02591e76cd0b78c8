#include "files/settings_check.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "core/qor_str.h"
#include "files/content_rules.h"
#include "files/webhook_line.h"
#include "platform/ascii.h"
#include "text/url_parse.h"

namespace snx::settings {

namespace {

using snx::platform::EqualsNoCase;

std::vector<KnownKey> MakeKnownKeys() {
  using K = ValueKind;
  std::vector<KnownKey> keys = {
      {"RestartsB4Reboot", K::kNumber, 0, 1000},
      {"MaxRebootsPerDay", K::kNumber, 0, 1000},
      {"AdminId", K::kText},
      {"MachineName", K::kText},
      {"DomainName", K::kText},
      {"Password", K::kText},
      {"UseIni", K::kYesNo},
      {"MinuteInterval", K::kNumber, 1, 1440},
      {"RstrSecs", K::kNumber, 0, 86400},
      {"LogEvents", K::kYesNo},
      {"GOS", K::kYesNo},
      {"PAck", K::kYesNo},
      {"MsgDown", K::kText},
      {"MsgUp", K::kText},
      {"SmtpServer", K::kMailServer},
      {"EmailBodyDown", K::kText},
      {"EmailBodyUp", K::kText},
      {"EmailSubject", K::kText},
      {"EmailSubjectDn", K::kText},
      {"EmailFrom", K::kEmail},
      {"EmailUrl", K::kUrl},
      {"EmailEnabled", K::kYesNo},
      {"SmtpSecurity", K::kSecurity},
      {"SmtpUser", K::kText},
      {"SmtpPassword", K::kText},
      {"Sensitivity", K::kNumber, 0, 100},
      {"WATCH", K::kYesNo},
      {"SvrStatus", K::kServerWord},
      {"PulseUrl", K::kUrl},
      {"PulseFailUrl", K::kUrl},
      {"WebResetCommand", K::kText},
      {"LogSizeLimit", K::kNumber, 0, 2147483647},
      {"UptimeSizeLimit", K::kNumber, 0, 2147483647},
      {"CaFile", K::kText},
      {"Proxy", K::kText},
      {"CertWarnDays", K::kNumber, 0, 3650},
      {"SlowMs", K::kNumber, 0, 86400000},
  };
  for (int n = 1; n <= 6; ++n) {
    const std::string digit = std::to_string(n);
    keys.push_back({"PNum" + digit, K::kText});
    keys.push_back({"PName" + digit, K::kText});
    keys.push_back({"PE" + digit, K::kYesNo});
  }
  return keys;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Edit distance without case; a swap of two neighbouring letters counts as one edit.
std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) &&
          Lower(a[i - 2]) == Lower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

bool ParseWhole(std::string_view text, std::int64_t& value) {
  text = CQorStr::Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

bool IsYesNoWord(std::string_view text) {
  for (const char* word : {"1", "0", "T", "F"}) {
    if (EqualsNoCase(text, word)) return true;
  }
  return false;
}

bool IsWebUrl(std::string_view text) {
  snx::platform::UrlParts parts;
  return snx::platform::ParseUrl(text, parts) &&
         (parts.service == snx::platform::UrlService::kHttp ||
          parts.service == snx::platform::UrlService::kHttps);
}

bool IsSectionHeader(std::string_view trimmed) {
  return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']';
}

// The sections whose lines are checked one by one, and what each line must be.
enum class LineKind { kKeys, kEmail, kUrl, kContent, kWebhook, kFree, kUnknown };

LineKind KindOfSection(std::string_view header) {
  if (EqualsNoCase(header, "[KEYS]")) return LineKind::kKeys;
  if (EqualsNoCase(header, "[EMAILS]")) return LineKind::kEmail;
  if (EqualsNoCase(header, "[URLS]") || EqualsNoCase(header, "[RURLS]")) return LineKind::kUrl;
  if (EqualsNoCase(header, kContentSection)) return LineKind::kContent;
  if (EqualsNoCase(header, kWebhooksSection)) return LineKind::kWebhook;
  if (EqualsNoCase(header, "[STOPS]") || EqualsNoCase(header, "[PROGS]")) return LineKind::kFree;
  return LineKind::kUnknown;
}

// Walks the lines and gathers the problems; the keys' first values are kept for the checks of
// what belongs together.
class Checker {
 public:
  Checker(const std::vector<std::string>& lines, const SettingsCheckOptions& options)
      : lines_(lines), options_(options) {}

  std::vector<std::string> Run() {
    LineKind kind = LineKind::kUnknown;
    bool in_section = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      line_ = i + 1;
      const std::string_view text = CQorStr::Trimmed(lines_[i]);
      if (text.empty()) continue;
      if (IsSectionHeader(text) && text.find('[', 1) == std::string_view::npos) {
        seen_any_section_ = true;
        kind = KindOfSection(text);
        in_section = kind != LineKind::kUnknown;
        if (!in_section) UnknownSection(text);
        continue;
      }
      if (text.find('[') != std::string_view::npos) {
        if (in_section) {
          Problem(Quoted(text) + " holds \"[\", which ends its section: the lines after it up " +
                  "to the next section are not read");
        }
        in_section = false;
        seen_any_section_ = true;
        kind = LineKind::kUnknown;
        continue;
      }
      if (!in_section) {
        if (!seen_any_section_) {
          Problem(Quoted(text) + " stands before any section and is not read");
        }
        continue;
      }
      switch (kind) {
        case LineKind::kKeys:
          KeyLine(text);
          break;
        case LineKind::kEmail:
          ++addresses_;
          if (!IsMailAddress(text)) Problem(Quoted(text) + " in [EMAILS] is not an e-mail address");
          break;
        case LineKind::kUrl:
          if (!IsWebUrl(text)) Problem(Quoted(text) + " is not an http:// or https:// URL");
          watched_.emplace_back(text);
          break;
        case LineKind::kContent:
          ContentLine(text);
          break;
        case LineKind::kWebhook: {
          WebhookLine hook;
          const std::string why = ParseWebhookLine(text, hook);
          if (!why.empty()) Problem(why + " in " + kWebhooksSection);
          break;
        }
        default:
          break;
      }
    }
    line_ = 0;
    Together();
    ContentOfUnwatchedUrls();
    return std::move(problems_);
  }

 private:
  void Problem(const std::string& text) {
    problems_.push_back(options_.file_name +
                        (line_ > 0 ? " line " + std::to_string(line_) + ": " : ": ") + text);
  }

  void UnknownSection(std::string_view header) {
    const std::string nearest = NearestName(header, KnownSections());
    Problem("unknown section " + std::string(header) +
            (nearest.empty() ? ": its lines are not read" : ": did you mean " + nearest + "?"));
  }

  void KeyLine(std::string_view text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || CQorStr::Trimmed(text.substr(0, equals)).empty()) {
      Problem(Quoted(text) + " in [KEYS] is not KEY=VALUE");
      return;
    }
    const std::string_view name = CQorStr::Trimmed(text.substr(0, equals));
    const std::string_view value = text.substr(equals + 1);
    const KnownKey* key = FindKnownKey(name);
    if (key == nullptr) {
      std::vector<std::string_view> names;
      for (const KnownKey& k : KnownKeys()) names.push_back(k.name);
      const std::string nearest = NearestName(name, names);
      Problem(
          "unknown key " + std::string(name) +
          (nearest.empty() ? ": the service does not read it" : ": did you mean " + nearest + "?"));
      return;
    }
    const auto [at, fresh] = first_.try_emplace(key->name, std::string(value), line_);
    if (!fresh) {
      Problem(std::string(name) + " is set again; only the first, on line " +
              std::to_string(at->second.second) + ", counts");
      return;
    }
    if (const std::string why = ValueProblem(*key, value); !why.empty()) {
      Problem(std::string(name) + "=" + std::string(CQorStr::Trimmed(value)) + ": " + why);
    }
  }

  void ContentLine(std::string_view text) {
    CContentRule rule;
    if (!ParseContentLine(text, rule)) {
      Problem(Quoted(text) + " in [CONTENT] is not URL TEXT or URL !TEXT");
    } else if (!IsWebUrl(rule.url)) {
      Problem(Quoted(rule.url) + " in [CONTENT] is not an http:// or https:// URL");
    } else {
      content_urls_.emplace_back(rule.url, line_);
    }
  }

  // A [CONTENT] line for a URL that is never tested checks nothing.
  void ContentOfUnwatchedUrls() {
    const std::string email_url = Value("EmailUrl");
    for (const auto& [url, line] : content_urls_) {
      if (url == email_url || std::find(watched_.begin(), watched_.end(), url) != watched_.end()) {
        continue;
      }
      line_ = line;
      Problem(Quoted(url) + " in [CONTENT] is not in [URLS] or [RURLS] nor the EmailUrl: " +
              "its line checks nothing");
    }
    line_ = 0;
  }

  std::string Value(const std::string& name) const {
    const auto at = first_.find(name);
    return at == first_.end() ? std::string() : std::string(CQorStr::Trimmed(at->second.first));
  }
  bool Yes(const std::string& name) const {
    const std::string v = Value(name);
    return v == "1" || EqualsNoCase(v, "T");
  }

  // Alerts switched on without what they need.
  void Together() {
    bool phone_number_on = false;
    for (int n = 1; n <= 6; ++n) {
      const std::string digit = std::to_string(n);
      if (!Yes("PE" + digit)) continue;
      if (Value("PNum" + digit).empty()) {
        Problem("PE" + digit + " is on but PNum" + digit + " is empty");
      } else {
        phone_number_on = true;
      }
    }
    if (phone_number_on) {
      if (Value("MsgDown").empty() || Value("MsgUp").empty()) {
        Problem("phone alerts stay off: MsgDown and MsgUp must both be set");
      } else if (!options_.dial_command_present) {
        Problem("phone alerts are on but there is no dial command: install an executable " +
                std::string("voice-dial in the install folder"));
      }
    }
    if (Yes("EmailEnabled")) {
      for (const char* needed :
           {"SmtpServer", "EmailFrom", "EmailBodyDown", "EmailBodyUp", "EmailUrl"}) {
        if (Value(needed).empty()) {
          Problem(std::string("EmailEnabled is on but ") + needed + " is empty: no mail goes out");
        }
      }
      if (addresses_ == 0) Problem("EmailEnabled is on but [EMAILS] lists no address");
      const std::string security(Value("SmtpSecurity"));
      if (!Value("SmtpUser").empty() && (security.empty() || EqualsNoCase(security, "none"))) {
        Problem("SmtpUser is set but SmtpSecurity is none: the login is never sent in clear");
      }
    }
  }

  const std::vector<std::string>& lines_;
  const SettingsCheckOptions& options_;
  std::vector<std::string> problems_;
  // Each known key's first value and its line.
  std::map<std::string, std::pair<std::string, std::size_t>> first_;
  std::size_t line_ = 0;
  std::size_t addresses_ = 0;
  std::vector<std::string> watched_;                               // the URLs of [URLS] and [RURLS]
  std::vector<std::pair<std::string, std::size_t>> content_urls_;  // and their lines
  bool seen_any_section_ = false;
};

}  // namespace

const std::vector<KnownKey>& KnownKeys() {
  static const std::vector<KnownKey> keys = MakeKnownKeys();
  return keys;
}

const std::vector<std::string_view>& KnownSections() {
  static const std::vector<std::string_view> sections = {
      "[KEYS]",  "[EMAILS]", "[URLS]",        "[RURLS]",
      "[STOPS]", "[PROGS]",  kContentSection, kWebhooksSection};
  return sections;
}

const KnownKey* FindKnownKey(std::string_view name) {
  name = CQorStr::Trimmed(name);
  for (const KnownKey& key : KnownKeys()) {
    if (EqualsNoCase(key.name, name)) return &key;
  }
  return nullptr;
}

std::string NearestName(std::string_view word, const std::vector<std::string_view>& names) {
  // A slip of the keyboard: one edit in a short name, two in a longer one, three in a long one.
  const std::size_t allowed = word.size() <= 4 ? 1 : word.size() <= 8 ? 2 : 3;
  std::string_view best;
  std::size_t best_distance = allowed + 1;
  for (const std::string_view name : names) {
    const std::size_t d = Distance(word, name);
    if (d < best_distance) {
      best = name;
      best_distance = d;
    }
  }
  return std::string(best);
}

std::string Expected(const KnownKey& key) {
  switch (key.kind) {
    case ValueKind::kNumber:
      return "a whole number from " + std::to_string(key.min) + " to " + std::to_string(key.max);
    case ValueKind::kYesNo:
      return "1 (yes) or 0 (no)";
    case ValueKind::kUrl:
      return "an http:// or https:// URL";
    case ValueKind::kEmail:
      return "an e-mail address (name@domain)";
    case ValueKind::kMailServer:
      return "a mail server: host or host:port";
    case ValueKind::kServerWord:
      return "Up, Restarting or Rebooting";
    case ValueKind::kSecurity:
      return "none, starttls or tls";
    case ValueKind::kText:
      break;
  }
  return "a text";
}

std::string ValueProblem(const KnownKey& key, std::string_view value) {
  const std::string_view v = CQorStr::Trimmed(value);
  if (v.empty()) return {};
  bool good = true;
  std::string read_as;
  switch (key.kind) {
    case ValueKind::kNumber: {
      std::int64_t number = 0;
      good = ParseWhole(v, number) && number >= key.min && number <= key.max;
      if (!good) read_as = " (the service reads " + std::to_string(CQorStr(value).ToInt()) + ")";
      break;
    }
    case ValueKind::kYesNo:
      good = IsYesNoWord(v);
      if (!good) read_as = "; " + Quoted(v) + " counts as no";
      break;
    case ValueKind::kUrl:
      good = IsWebUrl(v);
      break;
    case ValueKind::kEmail:
      good = IsMailAddress(v);
      break;
    case ValueKind::kMailServer: {
      std::string host;
      std::uint16_t port = 25;
      good = SplitMailServer(v, host, port) && host.find_first_of(" /@") == std::string::npos;
      break;
    }
    case ValueKind::kServerWord:
      good = EqualsNoCase(v, "Up") || EqualsNoCase(v, "Restarting") || EqualsNoCase(v, "Rebooting");
      if (!good) read_as = "; the service reads Up";
      break;
    case ValueKind::kSecurity:
      good = v.empty() || EqualsNoCase(v, "none") || EqualsNoCase(v, "starttls") ||
             EqualsNoCase(v, "tls");
      if (!good) read_as = "; the service sends no mail";
      break;
    case ValueKind::kText:
      break;
  }
  return good ? std::string() : "expected " + Expected(key) + read_as;
}

bool SplitMailServer(std::string_view text, std::string& host, std::uint16_t& port) {
  text = CQorStr::Trimmed(text);
  if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
    const std::string_view digits = text.substr(colon + 1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || digits.size() > 5 || error != std::errc() ||
        end != digits.data() + digits.size() || value < 1 || value > 65535) {
      return false;
    }
    port = static_cast<std::uint16_t>(value);
    text = text.substr(0, colon);
  }
  host = text;
  return !host.empty();
}

bool IsMailAddress(std::string_view text) {
  text = CQorStr::Trimmed(text);
  const std::size_t at = text.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == text.size() ||
      text.find('@', at + 1) != std::string_view::npos) {
    return false;
  }
  return text.find_first_of(" \t<>,;:\"()[]\\") == std::string_view::npos &&
         text.substr(at + 1).find('.') != 0 && text.back() != '.';
}

std::vector<std::string> CheckSettingsLines(const std::vector<std::string>& lines,
                                            const SettingsCheckOptions& options) {
  return Checker(lines, options).Run();
}

}  // namespace snx::settings

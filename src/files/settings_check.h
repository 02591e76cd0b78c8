#pragma once
// The check of the settings file "AutoSet.caf" that tells an administrator what the service
// would read differently from what was meant: keys and sections it does not know (with the
// nearest known name), values of the wrong type or range, malformed URLs, e-mail addresses and
// mail servers, and alerts switched on without what they need. It never changes how the
// settings model reads the file ("yes" still counts as no there); it only says so.
// `snxctl conf check` prints its lines, the service logs them when Go starts.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace snx::settings {

enum class ValueKind {
  kText,
  kNumber,      // a whole number within [min, max]
  kYesNo,       // 1/T yes, 0/F no
  kUrl,         // http:// or https://
  kEmail,       // one address, name@domain
  kMailServer,  // host or host:port
  kServerWord,  // Up, Restarting or Rebooting
  kSecurity,    // none, starttls or tls
};

struct KnownKey {
  std::string name;
  ValueKind kind = ValueKind::kText;
  std::int32_t min = 0;
  std::int32_t max = 0;
};

// Every key of "[KEYS]" the service or snxctl reads. A new key belongs here.
const std::vector<KnownKey>& KnownKeys();
// The sections of the file, with their brackets.
const std::vector<std::string_view>& KnownSections();
// The known key of that name (blanks around ignored, without case); null when unknown.
const KnownKey* FindKnownKey(std::string_view name);

// The name of `names` nearest to `word` (edit distance without case, a swap of two neighbours
// counting once), or "" when none is close enough to be a slip of the keyboard.
std::string NearestName(std::string_view word, const std::vector<std::string_view>& names);

// What the key takes, in words ("a whole number from 1 to 1440").
std::string Expected(const KnownKey& key);
// Why `value` does not suit the key ("" when it does; an empty value takes the default).
std::string ValueProblem(const KnownKey& key, std::string_view value);

// "host" or "host:port" (blanks around ignored; port 1..65535, `port` keeps its value when none
// is given). False for a missing host or a bad port.
bool SplitMailServer(std::string_view text, std::string& host, std::uint16_t& port);
// One e-mail address: a local part, "@", a domain; no blanks, brackets, commas or quotes.
bool IsMailAddress(std::string_view text);

struct SettingsCheckOptions {
  // The file's name as the lines should show it.
  std::string file_name = "AutoSet.caf";
  // Whether the install folder holds the phone alerts' dial command.
  bool dial_command_present = true;
};

// One line per problem of the deciphered lines of a settings file (as `snxctl conf show` prints
// them, numbered from 1); empty when the file is sound.
std::vector<std::string> CheckSettingsLines(const std::vector<std::string>& lines,
                                            const SettingsCheckOptions& options);

}  // namespace snx::settings

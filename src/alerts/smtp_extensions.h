#pragma once
// What a mail server offers in its answer to EHLO ("250-STARTTLS", "250 AUTH PLAIN LOGIN"), and
// the base64 of the AUTH exchange.

#include <string>
#include <string_view>
#include <vector>

namespace snx::alerts {

struct SmtpExtensions {
  bool starttls = false;
  bool auth_plain = false;
  bool auth_login = false;
};

// Reads the lines of a 250 reply to EHLO (each without its line end). The first line is the
// server's greeting, not an extension; lines of another code are ignored.
SmtpExtensions ParseEhloReply(const std::vector<std::string>& lines);

std::string Base64Encode(std::string_view bytes);
// False for text that is not base64 (blanks around it are allowed); `out` is then unspecified.
bool Base64Decode(std::string_view text, std::string& out);

}  // namespace snx::alerts

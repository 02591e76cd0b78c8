#include "alerts/smtp_extensions.h"

#include <algorithm>
#include <cstdint>

#include "platform/ascii.h"

namespace snx::alerts {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The words of a line after its code and separator.
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> out;
  while (!text.empty()) {
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    text.remove_prefix(start);
    const std::size_t end = text.find_first_of(" \t");
    out.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end);
  }
  return out;
}

}  // namespace

SmtpExtensions ParseEhloReply(const std::vector<std::string>& lines) {
  using snx::platform::EqualsNoCase;
  SmtpExtensions ext;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.size() < 4 || line.substr(0, 3) != "250" || (line[3] != '-' && line[3] != ' ')) {
      continue;
    }
    const auto words = Words(line.substr(4));
    if (words.empty()) continue;
    if (EqualsNoCase(words[0], "STARTTLS")) ext.starttls = true;
    // "AUTH=PLAIN LOGIN" is an old spelling some servers still add.
    std::vector<std::string_view> mechs;
    if (EqualsNoCase(words[0], "AUTH")) {
      mechs.assign(words.begin() + 1, words.end());
    } else if (words[0].size() > 5 && EqualsNoCase(words[0].substr(0, 5), "AUTH=")) {
      mechs.assign(words.begin(), words.end());
      mechs[0].remove_prefix(5);
    }
    for (const std::string_view mech : mechs) {
      if (EqualsNoCase(mech, "PLAIN")) ext.auth_plain = true;
      if (EqualsNoCase(mech, "LOGIN")) ext.auth_login = true;
    }
  }
  return ext;
}

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      v = (v << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out += k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return out;
}

bool Base64Decode(std::string_view text, std::string& out) {
  out.clear();
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.size() % 4 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t v = 0;
    int pads = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      const bool last_group = i + 4 == text.size();
      if (c == '=' && last_group && (k == 3 || (k == 2 && text[i + 3] == '='))) {
        ++pads;
        v <<= 6;
        continue;
      }
      const int value = ValueOf(c);
      if (value < 0 || pads > 0) return false;
      v = (v << 6) | static_cast<std::uint32_t>(value);
    }
    for (int k = 0; k < 3 - pads; ++k) out += static_cast<char>((v >> (16 - 8 * k)) & 0xff);
  }
  return true;
}

}  // namespace snx::alerts

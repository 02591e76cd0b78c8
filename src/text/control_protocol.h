#pragma once
// The command socket's protocol: one request per line, answered by one line.
//
//   request  = method SP code LF          ("OpsCommand 1000", "GetStringResult 1012")
//   method   = "OpsCommand" / "GetStringResult"   (compared without case)
//   code     = a decimal 32-bit integer, optional sign
//   answers  = "OK" SP integer            (OpsCommand)
//            / "TEXT" SP text             (GetStringResult that placed a text; may be empty)
//            / "NONE"                     (GetStringResult that left the result untouched)
//            / "ERR" SP reason            (the line was not a request; the connection goes on)
//
// A CR before the LF is ignored. Request lines are at most kMaxRequestLine bytes before the LF,
// answer lines at most kMaxAnswerLine. Texts in answers carry no control characters.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace snx::platform {

inline constexpr std::size_t kMaxRequestLine = 128;
inline constexpr std::size_t kMaxAnswerLine = 4096;

enum class ControlMethod { kOpsCommand, kGetStringResult };

struct ControlRequest {
  ControlMethod method = ControlMethod::kOpsCommand;
  std::int32_t code = 0;
  bool operator==(const ControlRequest&) const = default;
};

// One request line without its LF (a trailing CR is allowed). nullopt for anything else, with
// `why` saying what was wrong.
std::optional<ControlRequest> ParseControlRequest(std::string_view line,
                                                  std::string* why = nullptr);
std::string FormatControlRequest(const ControlRequest& request);

enum class AnswerKind { kInteger, kText, kNone, kError };

struct ControlAnswer {
  AnswerKind kind = AnswerKind::kError;
  std::int32_t number = 0;
  std::string text;  // the text of TEXT, the reason of ERR
};

// The answer lines, without the LF. Texts go through VisibleText.
std::string AnswerInteger(std::int32_t value);
std::string AnswerText(std::string_view text);
std::string AnswerNone();
std::string AnswerError(std::string_view reason);

// Reads an answer line (without LF); an unreadable line is an kError answer saying so.
ControlAnswer ParseControlAnswer(std::string_view line);

// The Status request: the line "Status" (any case), answered by several lines, each within
// kMaxAnswerLine: "STATUS " and a JSON object (the operations), then one "ITEM " line with a
// JSON object per watched item, then "END". An object that cannot tell its status answers one
// "ERR" line instead.
inline constexpr std::string_view kStatusRequest = "Status";
inline constexpr std::string_view kStatusHead = "STATUS ";
inline constexpr std::string_view kStatusItem = "ITEM ";
inline constexpr std::string_view kStatusEnd = "END";
bool IsStatusRequest(std::string_view line);

// $SNX_ROOT/run/snxsvc/snxsvc.sock
std::string ControlSocketPath();

}  // namespace snx::platform

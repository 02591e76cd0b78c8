#include "alerts/smtp_reply.h"

namespace snx::alerts {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view WithoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

bool IsContinuationLine(std::string_view line) {
  return line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
         line[3] == '-';
}

bool HasReplyCode(std::string_view line, std::string_view code) {
  return !code.empty() && line.substr(0, code.size()) == code &&
         (line.size() == code.size() || !IsDigit(line[code.size()]));
}

bool TakeReply(std::string& pending, std::vector<std::string>& lines) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = pending.find('\n', start);
    if (end == std::string::npos) return false;
    const std::string_view line(pending.data() + start, end - start);
    start = end + 1;
    if (IsContinuationLine(line)) continue;
    std::string reply = pending.substr(0, start);
    pending.erase(0, start);
    TakeAllLines(reply, lines);
    return true;
  }
}

void TakeAllLines(std::string& pending, std::vector<std::string>& lines) {
  std::string_view rest(pending);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::size_t cut = end == std::string_view::npos ? rest.size() : end + 1;
    lines.emplace_back(WithoutLineEnd(rest.substr(0, cut)));
    rest.remove_prefix(cut);
  }
  pending.clear();
}

}  // namespace snx::alerts

#pragma once
// While it lives, the lines that the service's classes write to the log are kept here, so that
// a sub-command can show them on stderr where they explain a result.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/log_writer.h"
#include "platform/visible_text.h"

namespace snxctl {

enum class KeptLines { kAll, kErrorsOnly };

class KeptLog : public CLogWriter {
 public:
  // With `echo`, every kept line also goes to stderr as it is written.
  explicit KeptLog(KeptLines which = KeptLines::kAll, bool echo = false)
      : errors_only_(which == KeptLines::kErrorsOnly), echo_(echo), previous_(g_pLogFile) {
    g_pLogFile = this;
  }
  ~KeptLog() override { g_pLogFile = previous_; }
  KeptLog(const KeptLog&) = delete;
  KeptLog& operator=(const KeptLog&) = delete;

  static constexpr std::string_view kErrorMark = "Error: ";
  bool LogError(std::string_view text) override { return Keep(kErrorMark, text); }
  bool LogMessage(std::string_view text) override {
    return errors_only_ || Keep("Message: ", text);
  }
  bool LogEvent(std::string_view text) override { return errors_only_ || Keep("(event): ", text); }
  bool LogBlankLines(int) override { return true; }

  // The error lines kept, without their "Error: " mark.
  std::vector<std::string> Errors() const {
    std::vector<std::string> errors;
    for (const auto& line : lines_) {
      if (line.starts_with(kErrorMark)) errors.push_back(line.substr(kErrorMark.size()));
    }
    return errors;
  }

  // Every kept line to stderr, each after `indent`.
  void Print(std::string_view indent = "") const {
    for (const auto& line : lines_) {
      std::fprintf(stderr, "%.*s%s\n", static_cast<int>(indent.size()), indent.data(),
                   line.c_str());
    }
  }

 private:
  bool Keep(std::string_view kind, std::string_view text) {
    std::string line(kind);
    line.append(snx::platform::VisibleText(text));
    if (echo_) std::fprintf(stderr, "%s\n", line.c_str());
    lines_.push_back(std::move(line));
    return true;
  }

  bool errors_only_;
  bool echo_;
  CLogWriter* previous_;
  std::vector<std::string> lines_;
};

}  // namespace snxctl

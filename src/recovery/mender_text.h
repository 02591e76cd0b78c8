#pragma once
// Small text helpers of the restart engine's log lines.

#include <initializer_list>
#include <string>
#include <string_view>

#include "core/log_writer.h"

namespace snx::recovery {

inline std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view p : parts) text.append(p);
  return text;
}

inline void LogBlankLine() {
  if (g_pLogFile != nullptr) g_pLogFile->LogBlankLines(1);
}

}  // namespace snx::recovery

#include "core/log_writer.h"

CLogWriter* g_pLogFile = nullptr;

void LogError(std::string_view text) {
  if (g_pLogFile != nullptr) g_pLogFile->LogError(text);
}

void LogMessage(std::string_view text) {
  if (g_pLogFile != nullptr) g_pLogFile->LogMessage(text);
}

void LogEvent(std::string_view text) {
  if (g_pLogFile != nullptr) g_pLogFile->LogEvent(text);
}

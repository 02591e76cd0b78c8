#include "core/log_writer.h"

CLogWriter* g_pLogFile = nullptr;

namespace {
thread_local CLogCapture* t_pCapture = nullptr;
}  // namespace

CLogCapture::CLogCapture() { t_pCapture = this; }

CLogCapture::~CLogCapture() { t_pCapture = nullptr; }

void LogError(std::string_view text) {
  if (t_pCapture != nullptr) {
    if (t_pCapture->m_sFirstError.empty()) t_pCapture->m_sFirstError.assign(text);
    return;
  }
  if (g_pLogFile != nullptr) g_pLogFile->LogError(text);
}

void LogMessage(std::string_view text) {
  if (t_pCapture == nullptr && g_pLogFile != nullptr) g_pLogFile->LogMessage(text);
}

void LogEvent(std::string_view text) {
  if (t_pCapture == nullptr && g_pLogFile != nullptr) g_pLogFile->LogEvent(text);
}

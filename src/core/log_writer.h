#pragma once
// The process-wide log as the rest of the system sees it. The log file class implements it;
// every class writes its error, message and event lines through g_pLogFile, and nothing is
// written while it is null.

#include <string>
#include <string_view>

class CLogWriter {
 public:
  virtual ~CLogWriter() = default;
  virtual bool LogError(std::string_view text) = 0;
  virtual bool LogMessage(std::string_view text) = 0;
  virtual bool LogEvent(std::string_view text) = 0;
  virtual bool LogBlankLines(int count) = 0;
};

// Set by the owner of the service log before any thread uses it; null while none exists.
extern CLogWriter* g_pLogFile;

// Shorthands that do nothing while there is no log. They hand the writer the text with its
// control characters escaped (snx::platform::VisibleText).
void LogError(std::string_view text);
void LogMessage(std::string_view text);
void LogEvent(std::string_view text);

// While one lives, the error lines this thread writes through the shorthands are kept in it
// instead of the log (messages and events are dropped): a caller that reports one failure in
// its own words uses it around the steps whose own lines would repeat it. Not nested.
class CLogCapture {
 public:
  CLogCapture();
  ~CLogCapture();
  CLogCapture(const CLogCapture&) = delete;
  CLogCapture& operator=(const CLogCapture&) = delete;
  // The first error line kept, "" when none.
  const std::string& FirstError() const { return m_sFirstError; }

 private:
  friend void LogError(std::string_view text);
  std::string m_sFirstError;
};

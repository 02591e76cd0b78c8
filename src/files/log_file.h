#pragma once
// CLogFile: a text log with a time stamp and a kind on every line. The file is reopened,
// appended and closed for every line under the named mutex "MutexToProtectLogFile", so writers
// in this and other processes never mix their lines, and it is moved to its ".old" file when it
// has reached the size limit at the moment it is opened.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/log_writer.h"
#include "core/qor_str.h"
#include "files/txt_file4.h"
#include "platform/named_mutex.h"

namespace snx::platform {
class Clock;
}

// A trace line: an event text that begins with a class name and "::" (a "C" and a name, as in
// "COpsMngrThread::LowLevelInit() 0." or "CMender::CPW 3"): the numbered steps of an operation.
bool IsTraceLine(std::string_view text);

// "MM/DD/YY HH:MM:SS" of the clock's local time: the stamp every log line begins with.
std::string LogTimeStamp(snx::platform::Clock& clock);

class CLogFile : public CTxtFile4, public CLogWriter {
 public:
  static constexpr std::int64_t kDefaultSizeLimit = 2000000;
  static constexpr const char* kMutexName = "MutexToProtectLogFile";

  CLogFile();
  CLogFile(const CLogFile&) = delete;
  CLogFile& operator=(const CLogFile&) = delete;
  ~CLogFile() override;

  // The folder of the log; set before Open. "/" and "\" both end it.
  void SetDirectory(std::string_view directory) { m_sDirectory.Assign(directory); }
  const CQorStr& Directory() const { return m_sDirectory; }
  bool Open(std::string_view name);
  bool LogError(std::string_view text) override;
  bool LogMessage(std::string_view text) override;
  bool LogEvent(std::string_view text) override;
  bool LogBlankLines(int count) override;
  void SetSizeLimit(std::int64_t bytes) { m_iSizeLimit = bytes; }
  void EnableBlankLines(bool enabled) { m_bBlankLinesEnabled = enabled; }
  bool BlankLinesEnabled() const { return m_bBlankLinesEnabled; }
  // The LogEvents setting: when off, LogEvent leaves out the trace lines (IsTraceLine) and
  // writes only the events that tell the administrator something. On at construction.
  void EnableTraceLines(bool enabled) { m_bTraceLinesEnabled = enabled; }
  bool TraceLinesEnabled() const { return m_bTraceLinesEnabled; }
  bool IsLogOpen() const { return m_bLogOpen; }
  const CQorStr& LogPath() const { return m_sLogPath; }
  const CQorStr& OldPath() const { return m_sOldPath; }

 private:
  bool Lock();
  void Unlock();
  bool WriteKindLine(std::string_view kind, std::string_view text);
  bool AppendBytes(std::string_view bytes);

  CQorStr m_sDirectory;
  bool m_bBlankLinesEnabled = false;
  std::atomic<bool> m_bTraceLinesEnabled{true};
  std::int32_t m_iSpare = 2;
  CQorStr m_sLogPath;
  CQorStr m_sOldPath;
  std::unique_ptr<snx::platform::NamedMutex> m_pMutex;
  std::int64_t m_iSizeLimit = kDefaultSizeLimit;
  bool m_bLogOpen = false;
  bool m_bLockHeld = false;
};

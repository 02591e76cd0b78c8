#pragma once
// CLogFile: a text log with a time stamp and a kind on every line. Every line is appended under
// the named mutex "MutexToProtectLogFile", so writers in this and other processes never mix their
// lines. The file stays open between lines; under the lock each line first looks at the path,
// and opens it again (with the same checks as the first open: never through a symbolic link)
// when it names another file than the open one: moved away by logrotate, removed, or moved to
// ".old" by another writer. It is moved to its ".old" file when it has reached the size limit,
// at the moment it is opened and while it is written to.
//
// A line that cannot be written (a full disk) is lost, and the log cannot say so itself: the
// first loss of a run of them is said once to the system log; the first line written again is
// followed by one message line, also sent to the system log, that tells how many were lost.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
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
  std::int64_t SizeLimit() const { return m_iSizeLimit; }
  // True while lines are being lost (from a failed write to the next one that works).
  bool WriteFailing() const { return m_bWriteFailing; }
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
  // What a write has to say once the lock is let go: that lines begin to be lost, or that
  // they are written again (then it is a line of the log as well).
  struct Notice {
    std::string text;
    bool resumed = false;
  };
  // Under the lock: rotates when the log may have reached its limit, appends, and keeps the
  // count of lines lost.
  bool AppendBytes(std::string_view bytes, Notice& notice);
  // Under the lock: moves the log of that size to its ".old" file when it has reached the size
  // limit (true when it moved); when the move fails it is tried again after another tenth of
  // the limit.
  bool RotateIfFull(std::int64_t size);
  // Under the lock: rotates when due and makes the open stream the file the path names now.
  void FollowThePath();
  // The time stamp of the clock's current second, formatted once per second.
  const std::string& Stamp();
  void Announce(const Notice& notice);

  std::string FileName() const;

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
  // The size at which a move that failed is tried again; 0: the size limit.
  std::int64_t m_iRetryAt = 0;
  // The file the open stream writes to (device and inode), or nullopt when none is open.
  std::optional<snx::platform::FileIdentity> m_OpenId;
  std::int64_t m_iStampSecond = 0;
  std::string m_sStamp;
  bool m_bWriteFailing = false;
  std::uint64_t m_iLinesLost = 0;
};

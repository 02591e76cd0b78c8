#include "files/log_file.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/debug_sink.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "platform/path_map.h"
#include "platform/visible_text.h"

namespace {

constexpr std::chrono::milliseconds kLockWait{500};
constexpr int kLineBufferSize = 4096;

// The text with every control character but CR and LF written as an escape: no line of the log
// puts escape sequences on the terminal of whoever reads it. (CR LF inside the system's own
// texts stays; text from outside is made one line by its caller with VisibleText.)
std::string WithoutTerminalControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
    out += snx::platform::VisibleText(text.substr(start, i - start));
    if (i < text.size()) out.push_back(text[i]);
    start = i + 1;
  }
  return out;
}

}  // namespace

namespace {

std::string FormatStamp(const snx::platform::LocalTime& t) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d", t.month % 100, t.day % 100,
                t.year % 100, t.hour % 100, t.minute % 100, t.second % 100);
  return stamp;
}

}  // namespace

std::string LogTimeStamp(snx::platform::Clock& clock) {
  return FormatStamp(clock.ToLocal(clock.WallNow()));
}

const std::string& CLogFile::Stamp() {
  auto& clock = snx::platform::Use<snx::platform::Clock>();
  const auto now = clock.WallNow();
  const auto second = std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()).count();
  if (m_sStamp.empty() || second != m_iStampSecond) {
    m_sStamp = FormatStamp(clock.ToLocal(now));
    m_iStampSecond = second;
  }
  return m_sStamp;
}

CLogFile::CLogFile() : m_pMutex(snx::platform::OpenNamedMutex(kMutexName)) {
  SetQuiet(true);  // the log's own file errors go to the debugger output
}

CLogFile::~CLogFile() = default;

bool CLogFile::Lock() {
  if (!m_pMutex) return false;
  const auto result = m_pMutex->Lock(kLockWait);
  if (result != snx::platform::LockResult::kAcquired &&
      result != snx::platform::LockResult::kAbandoned) {
    return false;
  }
  m_bLockHeld = true;
  return true;
}

void CLogFile::Unlock() {
  if (!m_bLockHeld) return;
  m_bLockHeld = false;
  m_pMutex->Unlock();
}

bool CLogFile::Open(std::string_view name) {
  if (!Lock()) return false;
  m_bLogOpen = false;
  m_sDirectory.Trim();
  m_sLogPath.Assign(m_sDirectory);
  m_sOldPath.Assign(m_sDirectory);
  const std::string_view dir = m_sDirectory.View();
  // An empty folder means the current one; otherwise exactly one separator before the name.
  if (!dir.empty() && !snx::platform::IsPathSeparator(dir.back())) {
    m_sLogPath.Append('\\');
    m_sOldPath.Append('\\');
  }
  m_sLogPath.Append(name);
  m_sLogPath.Append(".log");
  m_sOldPath.Append(name);
  m_sOldPath.Append(".old");

  auto& files = snx::platform::Files();
  snx::platform::SetLastFileError("");
  m_OpenId.reset();
  m_iRetryAt = 0;
  if (const auto id = files.Identity(m_sLogPath)) RotateIfFull(id->size);
  if (Initialize(kLineBufferSize)) {
    const bool ready = files.Exists(m_sLogPath) ? OpenForReadWrite(m_sLogPath) : Create(m_sLogPath);
    if (ready) {
      Close();
      m_bLogOpen = true;
    }
  }
  Unlock();
  if (!m_bLogOpen) {
    // Every later line would be lost without a word: say once, where an administrator looks,
    // which file could not be opened and why (a symbolic link, a folder it cannot write).
    std::string why = snx::platform::LastFileError();
    if (why.empty()) why = "cannot open " + std::string(m_sLogPath.View());
    snx::platform::MessageBoxOk("SNXSVC", "CLogFile::Open() " + why);
  }
  return m_bLogOpen;
}

bool CLogFile::RotateIfFull(std::int64_t size) {
  if (size < (m_iRetryAt > 0 ? m_iRetryAt : m_iSizeLimit)) return false;
  // Moving the file keeps every line: when the rename fails the log simply goes on growing,
  // and the move is tried again after another tenth of the limit.
  if (snx::platform::Files().Rename(m_sLogPath, m_sOldPath)) {
    m_iRetryAt = 0;
    return true;
  } else {
    snx::platform::DebugOutput("CLogFile could not move the log to its .old file");
    m_iRetryAt = size + std::max<std::int64_t>(m_iSizeLimit / 10, 1);
  }
  return false;
}

void CLogFile::FollowThePath() {
  auto& files = snx::platform::Files();
  auto now = files.Identity(m_sLogPath);
  if (now && RotateIfFull(now->size)) now.reset();
  if (now && m_OpenId && now->device == m_OpenId->device && now->inode == m_OpenId->inode) {
    return;  // the common case: one stat, and the line goes to the open file
  }
  // Moved away, removed, or never opened: the path is opened again with every check of a
  // first open. A stream that cannot tell its file is opened again for every line.
  Close();
  m_OpenId.reset();
  if (ReOpenForReadAppend(m_sLogPath)) m_OpenId = OpenIdentity();
}

bool CLogFile::AppendBytes(std::string_view bytes, Notice& notice) {
  // The failure's reason is taken here; the caller's own last reason is kept.
  const std::string callers_reason = snx::platform::LastFileError();
  snx::platform::SetLastFileError("");
  FollowThePath();
  // A full disk often shows only when the bytes are flushed. A stream that failed is closed,
  // so that nothing it still holds comes out later inside another line.
  const bool written = IsOpen() && WriteLine(bytes) && Flush();
  if (!written) {
    Close();
    m_OpenId.reset();
  }
  const std::string why = snx::platform::LastFileError();
  snx::platform::SetLastFileError(callers_reason);

  // One notice when lines begin to be lost, and one when they are written again.
  if (written) {
    if (m_bWriteFailing) {
      notice = {FileName() + " is written again; " + std::to_string(m_iLinesLost) +
                    " line(s) could not be written.",
                true};
      m_bWriteFailing = false;
      m_iLinesLost = 0;
    }
  } else {
    ++m_iLinesLost;
    if (!m_bWriteFailing) {
      m_bWriteFailing = true;
      std::string text = FileName() + " cannot be written";
      if (!why.empty()) text += " (" + why + ")";
      notice = {text + "; its lines are lost until it can be written again.", false};
    }
  }
  return written;
}

std::string CLogFile::FileName() const {
  const std::string_view path = m_sLogPath.View();
  const std::size_t slash = path.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

void CLogFile::Announce(const Notice& notice) {
  if (notice.text.empty()) return;
  snx::platform::MessageBoxOk("SNXSVC", notice.text);
  if (notice.resumed) LogMessage(notice.text);
}

bool CLogFile::WriteKindLine(std::string_view kind, std::string_view text) {
  if (!Lock()) return false;
  bool written = false;
  Notice notice;
  if (m_bLogOpen) {
    std::string line = Stamp();
    line.append(kind);
    line.append(WithoutTerminalControls(text));
    line.push_back('\r');
    written = AppendBytes(line, notice);
  }
  Unlock();
  Announce(notice);
  return written;
}

bool CLogFile::LogError(std::string_view text) { return WriteKindLine(" Error: ", text); }
bool CLogFile::LogMessage(std::string_view text) { return WriteKindLine(" Message: ", text); }
bool IsTraceLine(std::string_view text) {
  const std::size_t colons = text.find("::");
  if (colons == std::string_view::npos || colons < 2 || text[0] != 'C') return false;
  for (const char c : text.substr(1, colons - 1)) {
    const bool name = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!name && c != '_') return false;
  }
  return true;
}

bool CLogFile::LogEvent(std::string_view text) {
  if (!m_bTraceLinesEnabled && IsTraceLine(text)) return false;
  return WriteKindLine(" (event): ", text);
}

bool CLogFile::LogBlankLines(int count) {
  if (!m_bBlankLinesEnabled || count <= 0) return false;
  if (!Lock()) return false;
  bool written = false;
  Notice notice;
  if (m_bLogOpen) {
    std::string blanks;
    for (int i = 1; i < count; ++i) blanks.append("\r\r\n");
    blanks.push_back('\r');
    written = AppendBytes(blanks, notice);
  }
  Unlock();
  Announce(notice);
  return written;
}

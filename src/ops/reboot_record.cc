#include "ops/reboot_record.h"

#include <algorithm>
#include <charconv>

#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/path_map.h"

namespace {

constexpr const char* kHeader =
    "# SNXSVC automatic reboots, one a line: seconds since 1970-01-01 UTC, oldest first\n";

// The folder part of a POSIX path ("" when it has none).
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void Say(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
}

}  // namespace

CRebootRecord::CRebootRecord(snx::platform::Clock& clock, std::string path)
    : m_Clock(clock), m_sPath(std::move(path)) {}

std::string CRebootRecord::DefaultPath() { return snx::platform::StateDir() + "/" + kFileName; }

std::int64_t CRebootRecord::NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(m_Clock.WallNow().time_since_epoch())
      .count();
}

std::string CRebootRecord::Format(const std::vector<std::int64_t>& seconds) {
  std::string text = kHeader;
  for (const std::int64_t s : seconds) text += std::to_string(s) + "\n";
  return text;
}

bool CRebootRecord::Parse(std::string_view text, std::vector<std::int64_t>& seconds,
                          std::string* why) {
  seconds.clear();
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    std::int64_t value = 0;
    const auto [at, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (error != std::errc() || at != line.data() + line.size() || value < 0 ||
        line.front() == '-' || line.front() == '+') {
      Say(why, "line " + std::to_string(number) + " is not a number of seconds");
      seconds.clear();
      return false;
    }
    seconds.push_back(value);
  }
  std::sort(seconds.begin(), seconds.end());
  return true;
}

CRebootRecord::LoadResult CRebootRecord::Load(std::string* why) {
  auto& files = snx::platform::Files();
  std::lock_guard lock(m_Mutex);
  m_Seconds.clear();
  if (!files.Exists(m_sPath)) {
    Say(why, m_sPath + " does not exist");
    return LoadResult::kMissing;
  }
  auto file = files.Open(m_sPath, "rb");
  if (!file) {
    Say(why, snx::platform::LastFileError());
    return LoadResult::kDamaged;
  }
  // One byte more than allowed tells a file that is too long.
  std::string text(static_cast<std::size_t>(kMaxFileBytes) + 1, '\0');
  std::size_t read = 0;
  while (read < text.size()) {
    const std::size_t n = file->Read(text.data() + read, text.size() - read);
    if (n == 0) break;
    read += n;
  }
  const bool failed = file->Failed();
  file->Close();
  if (failed) {
    Say(why, "cannot read " + m_sPath);
    return LoadResult::kDamaged;
  }
  if (read > static_cast<std::size_t>(kMaxFileBytes)) {
    Say(why, m_sPath + " is larger than " + std::to_string(kMaxFileBytes) + " bytes");
    return LoadResult::kDamaged;
  }
  text.resize(read);
  std::string bad;
  if (!Parse(text, m_Seconds, &bad)) {
    Say(why, m_sPath + ": " + bad);
    return LoadResult::kDamaged;
  }
  PruneLocked(NowSeconds());
  return LoadResult::kOk;
}

void CRebootRecord::PruneLocked(std::int64_t now) {
  const std::int64_t window = std::chrono::seconds(kWindow).count();
  std::erase_if(m_Seconds, [&](std::int64_t s) { return s <= now - window || s >= now + window; });
  if (m_Seconds.size() > kMaxEntries) {
    m_Seconds.erase(m_Seconds.begin(), m_Seconds.begin() + static_cast<std::ptrdiff_t>(
                                                               m_Seconds.size() - kMaxEntries));
  }
}

bool CRebootRecord::Add(std::string* why) {
  auto& files = snx::platform::Files();
  std::lock_guard lock(m_Mutex);
  const std::int64_t now = NowSeconds();
  m_Seconds.push_back(now);
  std::sort(m_Seconds.begin(), m_Seconds.end());
  PruneLocked(now);
  const std::string folder = FolderOf(m_sPath);
  if (!folder.empty() && !files.MakeFolders(folder)) {
    Say(why, "cannot make the folder " + folder);
    return false;
  }
  if (!snx::platform::ReplaceFileWith(files, m_sPath, Format(m_Seconds), 0600)) {
    Say(why, snx::platform::LastFileError());
    return false;
  }
  return true;
}

std::int32_t CRebootRecord::CountInWindow() {
  std::lock_guard lock(m_Mutex);
  PruneLocked(NowSeconds());
  return static_cast<std::int32_t>(m_Seconds.size());
}

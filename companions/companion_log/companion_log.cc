#include "companion_log.h"

#include <cstdio>

#include "platform/file_system.h"
#include "platform/visible_text.h"

void CCompanionLog::SetPath(std::string path) {
  std::lock_guard lock(mutex_);
  path_ = std::move(path);
}

std::string CCompanionLog::Path() const {
  std::lock_guard lock(mutex_);
  return path_;
}

bool CCompanionLog::Write(std::string_view text) {
  const snx::platform::LocalTime t = clock_.ToLocal(clock_.WallNow());
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  std::string line(stamp);
  line.append(snx::platform::VisibleText(text)).push_back('\n');

  std::lock_guard lock(mutex_);
  if (path_.empty()) return false;
  auto& files = snx::platform::Files();
  const auto size = files.Size(path_);
  if (size && *size >= kSizeLimit) files.Rename(path_, path_ + ".old");
  auto file = files.Open(path_, "a+b", 0644);
  if (!file) return false;
  const bool written = file->Write(line);
  return file->Close() && written;
}

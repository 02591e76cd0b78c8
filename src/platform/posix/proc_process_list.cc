// The process list from /proc: every numeric entry is a process; its executable is the target
// of /proc/<pid>/exe. There is no fixed limit on the number of processes or the path length.

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/no_destructor.h"
#include "platform/process_list.h"

namespace snx::platform {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// A pid from a /proc entry name, or 0 when the name is not all digits.
int PidOf(const char* name) {
  if (name[0] == '\0') return 0;
  long value = 0;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) return 0;
  }
  return static_cast<int>(value);
}

// The target of a symbolic link, however long; false when it cannot be read.
bool ReadLink(const std::string& link, std::string& target) {
  std::size_t size = 256;
  for (;;) {
    target.resize(size);
    const ssize_t n = readlink(link.c_str(), target.data(), size);
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < size) {
      target.resize(static_cast<std::size_t>(n));
      return true;
    }
    size *= 2;  // the target may have been cut: try again with more room
    if (size > (1u << 20)) return false;
  }
}

class ProcProcessList : public ProcessList {
 public:
  bool Snapshot(std::vector<ProcessInfo>& out) override {
    out.clear();
    std::unique_ptr<DIR, DirCloser> dir(opendir("/proc"));
    if (!dir) return false;
    std::string link;
    std::string target;
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir.get());
      if (entry == nullptr) {
        if (errno != 0) return false;  // the listing broke off: no partial list
        break;
      }
      const int pid = PidOf(entry->d_name);
      if (pid <= 0) continue;
      link = "/proc/";
      link += entry->d_name;
      link += "/exe";
      // Kernel threads have no executable; other users' processes may be closed to us; a
      // process may end while we look. All are left out.
      if (!ReadLink(link, target) || target.empty()) continue;
      // An executable replaced or removed since the start (a package upgrade) is still the
      // program the process runs: drop the kernel's mark.
      constexpr std::string_view kDeleted = " (deleted)";
      if (target.size() > kDeleted.size() &&
          std::string_view(target).substr(target.size() - kDeleted.size()) == kDeleted) {
        target.resize(target.size() - kDeleted.size());
      }
      ProcessInfo info;
      info.pid = pid;
      const std::size_t slash = target.rfind('/');
      info.base_name = slash == std::string::npos ? target : target.substr(slash + 1);
      info.executable_path = target;
      out.push_back(std::move(info));
    }
    std::sort(out.begin(), out.end(),
              [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
    return true;
  }
};

}  // namespace

template <>
ProcessList& DefaultFacility<ProcessList>() {
  static NoDestructor<ProcProcessList> list;
  return *list.get();
}

}  // namespace snx::platform

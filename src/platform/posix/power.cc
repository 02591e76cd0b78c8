// The power facility on Linux. SNX_POWER=record turns every reboot into one line in
// $SNX_ROOT/run/snxsvc/reboot-requests.

#include "platform/power.h"

#include <fcntl.h>
#include <linux/reboot.h>
#include <spawn.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/ascii.h"
#include "platform/debug_sink.h"
#include "platform/file_system.h"
#include "platform/no_destructor.h"
#include "platform/path_map.h"
#include "platform/visible_text.h"

extern char** environ;

namespace snx::platform {

namespace {

// CAP_SYS_BOOT (22) in the effective set, read from /proc/self/status.
bool HasSysBoot() {
  if (::geteuid() == 0) return true;
  std::unique_ptr<File> f = Use<FileSystem>().Open("/proc/self/status", "rb");
  if (!f) return false;
  std::string text(8192, '\0');
  text.resize(f->Read(text.data(), text.size()));
  const std::size_t at = text.find("CapEff:");
  if (at == std::string::npos) return false;
  const unsigned long long caps = std::strtoull(text.c_str() + at + 7, nullptr, 16);
  return (caps >> 22) & 1ULL;
}

class RecordingPower final : public Power {
 public:
  bool HasRebootPrivilege() override { return true; }
  bool ForceReboot(std::string_view reason) override {
    const std::string folder = RuntimeDir();
    Use<FileSystem>().MakeFolders(folder);
    const std::time_t now = std::time(nullptr);
    char stamp[32];
    std::tm tm{};
    ::localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    const std::string line =
        std::string(stamp) + " reboot requested: " + VisibleText(reason) + "\n";
    const int fd = ::open(RebootRequestsPath().c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0640);
    if (fd < 0) return false;
    const bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    DebugOutput("Power: " + line);
    return ok;
  }
};

class SystemPower final : public Power {
 public:
  bool HasRebootPrivilege() override { return HasSysBoot(); }
  bool ForceReboot(std::string_view reason) override {
    DebugOutput("Power: forced reboot: " + VisibleText(reason) + "\n");
    ::sync();
    // systemd first: it stops the units in order as far as a forced reboot allows.
    const char* argv[] = {"systemctl", "reboot", "--force", nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "systemctl", nullptr, nullptr, const_cast<char**>(argv), environ) ==
        0) {
      int status = 0;
      if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return true;
      }
    }
    return ::reboot(LINUX_REBOOT_CMD_RESTART) == 0;
  }
};

}  // namespace

bool PowerIsRecording() {
  const char* mode = std::getenv("SNX_POWER");
  return mode != nullptr && EqualsNoCase(mode, "record");
}

std::string RebootRequestsPath() { return RuntimeDir() + "/reboot-requests"; }

std::unique_ptr<Power> NewRecordingPower() { return std::make_unique<RecordingPower>(); }

template <>
Power& DefaultFacility<Power>() {
  static NoDestructor<RecordingPower> recording;
  static NoDestructor<SystemPower> system;
  if (PowerIsRecording()) return *recording.get();
  return *system.get();
}

}  // namespace snx::platform

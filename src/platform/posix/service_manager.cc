// systemd and syslog for the service process: sd_notify written to NOTIFY_SOCKET directly,
// events as syslog datagrams, systemctl for reloads and stops, a self-pipe for the stop signals.

#include "platform/service_manager.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/no_destructor.h"
#include "platform/posix/notify_socket.h"
#include "platform/posix/syslog_send.h"

extern char** environ;

namespace snx::platform {
namespace {

int g_stop_pipe[2] = {-1, -1};

void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  (void)!::write(g_stop_pipe[1], &byte, 1);
  errno = saved;
}

// Runs systemctl with the arguments, waiting for it; true on exit status 0.
bool RunSystemctl(std::initializer_list<const char*> args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("systemctl"));
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class SystemdServiceManager : public ServiceManager {
 public:
  bool StartedByServiceManager() override {
    const char* socket = ::getenv("NOTIFY_SOCKET");
    return socket != nullptr && *socket != '\0';
  }

  bool Notify(std::string_view state) override { return posix::SendNotify(state); }

  void LogEvent(std::string_view text) override { posix::SendToSyslog(posix::kSyslogInfo, text); }

  bool ManagesRoot(std::string_view root) override {
    struct stat st {};
    return (root.empty() || root == "/") && ::stat("/run/systemd/system", &st) == 0;
  }

  bool Reload() override { return RunSystemctl({"daemon-reload"}); }

  bool StopUnit(std::string_view unit) override {
    const std::string name(unit);
    return RunSystemctl({"stop", name.c_str()});
  }

  void InstallStopSignals() override {
    if (g_stop_pipe[0] < 0 && ::pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
  }

  bool WaitForStop(std::chrono::milliseconds wait) override {
    if (g_stop_pipe[0] < 0) {
      ::usleep(static_cast<useconds_t>(wait.count()) * 1000);
      return false;
    }
    pollfd fds{g_stop_pipe[0], POLLIN, 0};
    // The byte is never read: the pipe stays readable, so every later wait sees the stop too.
    return ::poll(&fds, 1, static_cast<int>(wait.count())) > 0;
  }

  void RaiseStop() override {
    if (g_stop_pipe[0] < 0) InstallStopSignals();
    OnStopSignal(0);
  }
};

}  // namespace

ServiceManager& SystemServiceManager() {
  static NoDestructor<SystemdServiceManager> manager;
  return *manager.get();
}

}  // namespace snx::platform

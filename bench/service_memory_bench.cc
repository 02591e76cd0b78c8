// The memory and idle CPU of the real snxsvc against Debian's monit, in the same run, both
// watching the same 100 pages served on loopback:
//
//   snxsvc -Foreground in a temporary root, sent Go over its command socket, one Go cycle over
//   the 100 local URLs; monit -I checking the same 100 URLs ("if failed port ... protocol http
//   request ...").
//
// Memory: VmRSS and RssAnon (the private anonymous part) of each process after both have
// tested every page once; VmHWM is the peak. Target: both figures of snxsvc at most monit's.
// Idle CPU: the time on the CPU of each over a window in which both wait for their next cycle.
// One minute of MinuteInterval lasts SNX_MINUTE_SECONDS = 20 seconds here; the window is 15 s
// and the figure is scaled to one minute.
//
//   service_memory_bench [--window SECONDS]

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/loopback_http_server.h"
#include "files/crypto_txtfile.h"
#include "platform/control_protocol.h"
#include "platform/line_socket.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace sp = snx::platform;
using Clock = std::chrono::steady_clock;

constexpr int kUrls = 100;
constexpr int kMinuteSeconds = 20;

std::atomic<long> g_requests{0};

snx::test::LoopbackHttpServer& Server() {
  static snx::test::LoopbackHttpServer server([](const std::string&) {
    ++g_requests;
    return snx::test::LoopbackHttpServer::Answer(200, {"Content-Type: text/html"},
                                                 "<html><body>The service is up.</body></html>\n");
  });
  return server;
}

std::string PagePath(int i) { return "/page" + std::to_string(i); }

pid_t Spawn(const std::vector<std::string>& argv, const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void End(pid_t pid, int signal) {
  if (pid <= 0) return;
  kill(pid, signal);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// A field of /proc/PID/status in kB, -1 when absent.
long StatusKb(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0)
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  }
  return -1;
}

// Time on the CPU of all the process's threads, in seconds, from the scheduler's nanosecond
// accounting (/proc/PID/task/*/schedstat), finer than the clock ticks of /proc/PID/stat.
double CpuSeconds(pid_t pid) {
  double total = 0;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream in(task.path() / "schedstat");
    unsigned long long ns = 0;
    if (in >> ns) total += static_cast<double>(ns) / 1e9;
  }
  return total;
}

struct Figures {
  long rss = -1, anon = -1, peak = -1;
  double idle_cpu = -1;
};

void Sample(pid_t pid, Figures& f) {
  f.rss = StatusKb(pid, "VmRSS");
  f.anon = StatusKb(pid, "RssAnon");
  f.peak = StatusKb(pid, "VmHWM");
}

class Service {
 public:
  bool Connect(const std::string& path) {
    for (int i = 0; i < 300; ++i) {
      client_ = sp::MakeUnixLineClient();
      std::string error;
      if (client_->Connect(path, error)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  std::string Ask(const std::string& request) {
    std::string answer, error;
    if (!client_->Exchange(request, answer, sp::kMaxAnswerLine, std::chrono::seconds(40), error)) {
      return "ERR " + error;
    }
    return answer;
  }

 private:
  std::unique_ptr<sp::LineClient> client_;
};

template <class F>
bool WaitUntil(F done, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int window = 15;
  if (argc == 3 && std::string(argv[1]) == "--window") window = std::atoi(argv[2]);
  if (window <= 0 || window >= kMinuteSeconds || (argc != 1 && argc != 3)) {
    std::fprintf(stderr, "usage: service_memory_bench [--window SECONDS below %d]\n",
                 kMinuteSeconds);
    return 2;
  }
  const std::string snxsvc = std::string(SNX_BIN_DIR) + "/snxsvc";
  const char* monit = "/usr/bin/monit";
  char pattern[] = "/tmp/snxmem-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = pattern;
  const std::string install = dir + "/opt";
  fs::create_directories(install);
  fs::copy_file(snxsvc, install + "/snxsvc");
  ::chmod((install + "/snxsvc").c_str(), 0755);

  Server();
  {
    CCryptoTxtfile file;
    file.Initialize(CCryptoTxtfile::kSettingsLineSize);
    file.Create(install + "/AutoSet.caf");
    for (const char* line : {"[KEYS]", "AdminId=a", "Password=p", "MachineName=BENCH",
                             "MinuteInterval=1", "WATCH=0", "[URLS]"}) {
      file.Append(line);
    }
    for (int i = 0; i < kUrls; ++i) file.Append(Server().Url(PagePath(i)));
    file.Close();
    std::ofstream rc(dir + "/monitrc");
    rc << "set daemon 60\nset logfile " << dir << "/monit.log\nset idfile " << dir
       << "/monit.id\nset statefile " << dir << "/monit.state\nset pidfile " << dir
       << "/monit.pid\n";
    for (int i = 0; i < kUrls; ++i) {
      rc << "check host page" << i << " with address 127.0.0.1\n  if failed port "
         << Server().port() << " protocol http request \"" << PagePath(i) << "\" then alert\n";
    }
  }
  ::chmod((dir + "/monitrc").c_str(), 0600);
  setenv("SNX_ROOT", (dir + "/root").c_str(), 1);
  setenv("SNX_POWER", "record", 1);
  setenv("SNX_MINUTE_SECONDS", std::to_string(kMinuteSeconds).c_str(), 1);
  // As the systemd unit that "snxsvc -Service" writes starts it.
  setenv("GNUTLS_NO_IMPLICIT_INIT", "1", 1);

  const pid_t ours = Spawn({install + "/snxsvc", "-Foreground"}, dir + "/snxsvc.out");
  Service service;
  bool ok = ours > 0 && service.Connect(sp::ControlSocketPath()) &&
            service.Ask("OpsCommand 1000") == "OK -1";
  // Ours first, alone, so the request count tells its cycle; then monit's first cycle.
  const auto waiting = [&] {
    return service.Ask("GetStringResult 1012") == "TEXT Go MODE: waiting for next test :";
  };
  ok = ok && WaitUntil(waiting, std::chrono::seconds(60)) && g_requests.load() >= kUrls;
  const long before_monit = g_requests.load();
  const pid_t theirs = access(monit, X_OK) == 0
                           ? Spawn({monit, "-I", "-c", dir + "/monitrc"}, dir + "/monit.out")
                           : -1;
  const bool monit_ran =
      theirs > 0 && WaitUntil([&] { return g_requests.load() - before_monit >= kUrls; },
                              std::chrono::seconds(30));

  Figures our_figures, their_figures;
  if (ok) {
    // Both have tested every page once; now both wait. The window starts with our next wait.
    WaitUntil([&] { return !waiting(); }, std::chrono::seconds(kMinuteSeconds + 5));
    ok = WaitUntil(waiting, std::chrono::seconds(60));
    const double ours0 = CpuSeconds(ours);
    const double theirs0 = monit_ran ? CpuSeconds(theirs) : 0;
    std::this_thread::sleep_for(std::chrono::seconds(window));
    our_figures.idle_cpu = (CpuSeconds(ours) - ours0) * 60.0 / window;
    if (monit_ran) their_figures.idle_cpu = (CpuSeconds(theirs) - theirs0) * 60.0 / window;
    Sample(ours, our_figures);
    if (monit_ran) Sample(theirs, their_figures);
    // SNX_SMAPS_TO=FILE keeps snxsvc's /proc/PID/smaps of this moment, to see where it goes.
    if (const char* keep = std::getenv("SNX_SMAPS_TO"); keep != nullptr && *keep != '\0') {
      std::ifstream in("/proc/" + std::to_string(ours) + "/smaps");
      std::ofstream(keep) << in.rdbuf();
    }
  }
  service.Ask("OpsCommand 1003");
  End(ours, SIGTERM);
  End(theirs, SIGTERM);

  if (!ok) {
    std::printf("snxsvc did not run its Go cycle (see %s/snxsvc.out)\n", dir.c_str());
    return 1;
  }
  std::printf("100 loopback URLs, same run, both after testing every page:\n");
  std::printf("  %-8s VmRSS %6ld kB  RssAnon %6ld kB  VmHWM %6ld kB  idle CPU %.4f s/min\n",
              "snxsvc", our_figures.rss, our_figures.anon, our_figures.peak, our_figures.idle_cpu);
  if (!monit_ran) {
    std::printf("  monit not run (install it with: apt-get install monit)\n");
  } else {
    std::printf("  %-8s VmRSS %6ld kB  RssAnon %6ld kB  VmHWM %6ld kB  idle CPU %.4f s/min\n",
                "monit", their_figures.rss, their_figures.anon, their_figures.peak,
                their_figures.idle_cpu);
    const bool met = our_figures.rss <= their_figures.rss && our_figures.anon <= their_figures.anon;
    std::printf("  target (VmRSS and RssAnon at most monit's): %s\n", met ? "MET" : "NOT MET");
  }
  std::printf(
      "  idle CPU: over a %d s window of the wait between cycles (one minute = %d s here), "
      "scaled to 60 s\n",
      window, kMinuteSeconds);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}

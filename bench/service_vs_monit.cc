// The real service beside Debian's monit, in the same run, both checking loopback pages served
// by this program (each client on its own port, so the answers tell them apart):
//
//   snxsvc installed into a temporary root ("snxsvc -Service" writes its keys and unit there)
//   and started as the unit starts it: its ExecStart, WorkingDirectory and Environment lines,
//   NOTIFY_SOCKET and WATCHDOG_USEC from WatchdogSec (this program reads the notifications),
//   sent Go over its command socket; monit -I with "set daemon 1" and one check host per page.
//
// Figures, per run (--runs, default 5), reported as min and median:
//   - CPU per 100 checks at 100 URLs: the time on the CPU of every thread of each process
//     (/proc/PID/task/*/schedstat) over a window after both are checking (monit made a whole
//     round, the service at least 100 pages), divided by the pages each fetched in the window. The
//     service cycles as fast as its settings allow: MinuteInterval=1 with one minute lasting one
//     second (SNX_MINUTE_SECONDS=1).
//   - Memory after that window: VmRSS, RssAnon, VmHWM.
//   - The same CPU figure at 500 URLs, against the one at 100 (linear cost per URL), and the
//     wall time of one cycle of 500 URLs (first to last request of a round at the server)
//     against 500 bare libcurl fetches made here, a fresh connection each, plus 100 ms.
//   - Idle: CPU per minute and wake-ups per second (voluntary context switches of all
//     threads) while both wait a long interval after their first round.
//   - The floor, beside them in the 100-URL window: bare_curl_client, libcurl alone checking
//     its own 100 pages (CPU per 100 checks and memory, against monit's).
// This program's own server threads are not counted: only the clients' PIDs are read.

#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/loopback_http_server.h"
#include "files/crypto_txtfile.h"
#include "platform/line_socket.h"
#include "text/control_protocol.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace sp = snx::platform;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kMonit = "/usr/bin/monit";
constexpr const char* kWaiting = "TEXT Go MODE: waiting for next test :";

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted = true; }

struct Options {
  int runs = 5;
  int window = 8;        // seconds of each CPU window
  int idle_window = 15;  // seconds of the idle window
  int cycle_limit = 20;  // seconds to wait for one whole round of 500 URLs
  bool strict = false;
  bool keep = false;  // the temporary folder stays, for a look at the logs
};

// ---------------------------------------------------------------------------------------------
// The pages: one server per client; it counts the answers and times whole rounds of URLs.

class Pages {
 public:
  explicit Pages(int urls)
      : urls_(urls), server_([this](const std::string& head) { return Answer(head); }) {}

  long requests() const { return requests_.load(); }
  // The wall time of the last whole round (first page's request to the last one's), if any.
  std::optional<double> last_round_seconds() const {
    const long long us = round_us_.load();
    if (us < 0) return std::nullopt;
    return static_cast<double>(us) / 1e6;
  }
  std::string Url(int i) const { return server_.Url(Path(i)); }
  std::uint16_t port() const { return server_.port(); }
  static std::string Path(int i) { return "/page" + std::to_string(i); }

 private:
  std::string Answer(const std::string& head) {
    ++requests_;
    const std::size_t start = head.find(' ') + 1;
    const std::string path = head.substr(start, head.find(' ', start) - start);
    const auto now = Clock::now();
    if (path == Path(0)) round_start_ = now;
    if (path == Path(urls_ - 1) && round_start_) {
      round_us_ =
          std::chrono::duration_cast<std::chrono::microseconds>(now - *round_start_).count();
      round_start_.reset();
    }
    return snx::test::LoopbackHttpServer::Answer(200, {"Content-Type: text/html"},
                                                 "<html><body>The service is up.</body></html>\n");
  }

  const int urls_;
  std::atomic<long> requests_{0};
  std::optional<Clock::time_point> round_start_;  // the server's thread only
  std::atomic<long long> round_us_{-1};
  snx::test::LoopbackHttpServer server_;  // last: its thread stops before the rest goes
};

// ---------------------------------------------------------------------------------------------
// /proc readings.

std::string ProcPath(pid_t pid) { return "/proc/" + std::to_string(pid); }

long StatusKb(pid_t pid, const std::string& field) {
  std::ifstream in(ProcPath(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0)
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  }
  return -1;
}

struct Threads {
  double cpu = 0;                       // seconds on the CPU, all threads
  long wakes = 0;                       // voluntary context switches, all threads
  std::map<std::string, long> by_name;  // voluntary context switches per thread name
};

// Time on the CPU from the scheduler's nanosecond accounting, finer than /proc/PID/stat's ticks.
Threads ReadThreads(pid_t pid) {
  Threads t;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator(ProcPath(pid) + "/task", ec)) {
    std::ifstream stat(task.path() / "schedstat");
    unsigned long long ns = 0;
    if (stat >> ns) t.cpu += static_cast<double>(ns) / 1e9;
    // The thread is named by where it waits in the kernel (poll, futex, sleep).
    std::ifstream wchan(task.path() / "wchan");
    std::string name;
    std::getline(wchan, name);
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
        const long n = std::strtol(line.c_str() + 24, nullptr, 10);
        t.wakes += n;
        t.by_name[name + " (" + task.path().filename().string() + ")"] += n;
      }
    }
  }
  return t;
}

// ---------------------------------------------------------------------------------------------
// Processes.

class Child {
 public:
  Child() = default;
  Child(const std::vector<std::string>& argv, const std::string& output,
        const std::string& folder = "") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { End(); }

  pid_t pid() const { return pid_; }
  bool Running() {
    if (pid_ <= 0) return false;
    return waitpid(pid_, &status_, WNOHANG) == 0;
  }
  // Waits for the end within `limit`; the exit code, or -1.
  int Wait(seconds limit) {
    const auto end = Clock::now() + limit;
    while (pid_ > 0 && Clock::now() < end) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
      }
      std::this_thread::sleep_for(milliseconds(20));
    }
    return -1;
  }
  // SIGTERM, then SIGKILL after 10 seconds.
  void End() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (Wait(seconds(10)) == -1 && pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
};

template <class F>
bool WaitUntil(F done, Clock::duration limit, milliseconds poll = milliseconds(20)) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (g_interrupted || Clock::now() > end) return false;
    std::this_thread::sleep_for(poll);
  }
  return true;
}

// The service manager's notification socket: counts the WATCHDOG=1 pings.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    ::unlink(path.c_str());
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
    thread_ = std::thread([this] { Run(); });
  }
  ~NotifySocket() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    ::unlink(path_.c_str());
  }
  bool ok() const { return thread_.joinable(); }
  long pings() const { return pings_.load(); }

 private:
  void Run() {
    char buffer[4096];
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0 && std::string(buffer, static_cast<std::size_t>(n)).find("WATCHDOG=1") !=
                       std::string::npos) {
        ++pings_;
      }
    }
  }
  std::string path_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<long> pings_{0};
  std::thread thread_;
};

// ---------------------------------------------------------------------------------------------
// The installed service and its unit.

struct Unit {
  std::string exec, folder;
  std::vector<std::pair<std::string, std::string>> environment;
  long watchdog_seconds = 0;
};

// The words of a unit's value: double quotes and backslash escapes, "%%" and "$$" undoubled.
std::vector<std::string> UnitWords(const std::string& value) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == '\\' && i + 1 < value.size()) {
      word.push_back(value[++i]);
    } else if ((c == '%' || c == '$') && i + 1 < value.size() && value[i + 1] == c) {
      word.push_back(c);
      ++i;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any || !word.empty()) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word.push_back(c);
    }
  }
  if (any || !word.empty()) words.push_back(word);
  return words;
}

std::optional<Unit> ReadUnit(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  Unit unit;
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::vector<std::string> words = UnitWords(line.substr(eq + 1));
    if (words.empty()) continue;
    if (key == "ExecStart") unit.exec = words[0];
    if (key == "WorkingDirectory") unit.folder = words[0];
    if (key == "WatchdogSec") unit.watchdog_seconds = std::atol(words[0].c_str());
    if (key == "Environment") {
      for (const auto& w : words) {
        const std::size_t at = w.find('=');
        if (at != std::string::npos)
          unit.environment.emplace_back(w.substr(0, at), w.substr(at + 1));
      }
    }
  }
  if (unit.exec.empty()) return std::nullopt;
  return unit;
}

class Service {
 public:
  bool Connect() {
    for (int i = 0; i < 300 && !g_interrupted; ++i) {
      client_ = sp::MakeUnixLineClient();
      std::string error;
      if (client_->Connect(sp::ControlSocketPath(), error)) return true;
      std::this_thread::sleep_for(milliseconds(50));
    }
    return false;
  }
  // One request; a connection the service closed is made again once.
  std::string Ask(const std::string& request) {
    std::string answer, error;
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (client_ && client_->Exchange(request, answer, sp::kMaxAnswerLine, seconds(40), error)) {
        return answer;
      }
      client_ = sp::MakeUnixLineClient();
      std::string ignored;
      if (!client_->Connect(sp::ControlSocketPath(), ignored)) break;
    }
    return "ERR " + error;
  }
  bool Waiting() { return Ask("GetStringResult 1012") == kWaiting; }
  // Closes the connection (its session thread ends); the next Ask makes a new one.
  void Close() { client_.reset(); }

 private:
  std::unique_ptr<sp::LineClient> client_;
};

// ---------------------------------------------------------------------------------------------
// One side by side: the service and monit over `urls` pages each.

class Bench {
 public:
  Bench(std::string dir, Unit unit) : dir_(std::move(dir)), unit_(std::move(unit)) {}

  struct Sample {
    double cpu = 0;
    long checks = 0, wakes = 0;
    double seconds = 0;
    long rss = -1, anon = -1, peak = -1;
    std::map<std::string, long> wakes_by_thread;
    // NaN when no page was fetched in the window (too short a window).
    double per100() const {
      return checks > 0 ? cpu / static_cast<double>(checks) * 100 : std::nan("");
    }
  };
  struct Result {
    Sample ours, theirs;
    std::optional<Sample> bare;  // libcurl alone, when asked for
    std::optional<double> round;  // the service's whole round, seconds
    long pings = 0;
  };

  // Both start (with `bare`, the libcurl client too); the window opens once each fetched a
  // round of pages (and, with `idle`, the service waits for its next cycle).
  std::optional<Result> Measure(int urls, int minute_seconds, int monit_daemon, int window,
                                bool idle, int round_limit, bool bare = false) {
    Pages ours_pages(urls), their_pages(urls), bare_pages(urls);
    WriteSettings(ours_pages, urls);
    WriteMonitrc(their_pages, urls, monit_daemon);
    setenv("SNX_MINUTE_SECONDS", std::to_string(minute_seconds).c_str(), 1);
    NotifySocket notify(dir_ + "/notify");
    if (!notify.ok()) return Fail("no notification socket");
    Child ours({unit_.exec}, dir_ + "/snxsvc.out", unit_.folder);
    Service service;
    if (!service.Connect() || service.Ask("OpsCommand 1000") != "OK -1") {
      return Fail("snxsvc did not take Go (see " + dir_ + "/snxsvc.out)");
    }
    Child theirs({kMonit, "-I", "-c", dir_ + "/monitrc"}, dir_ + "/monit.out");
    std::vector<std::string> bare_args{SNX_BARE_CLIENT};
    for (int i = 0; bare && i < urls; ++i) bare_args.push_back(bare_pages.Url(i));
    std::optional<Child> floor;
    if (bare) floor.emplace(bare_args, dir_ + "/bare.out");
    const long ready_ours = std::min(urls, 100);
    const auto warm = [&] {
      return ours_pages.requests() >= ready_ours && their_pages.requests() >= urls &&
             (!bare || bare_pages.requests() >= urls) && (!idle || service.Waiting());
    };
    if (!WaitUntil(warm, seconds(idle ? 120 : 60), milliseconds(idle ? 250 : 20))) {
      return Fail("no first round within the bound (snxsvc " +
                  std::to_string(ours_pages.requests()) + " pages, action \"" +
                  service.Ask("GetStringResult 1012") + "\"; monit " +
                  std::to_string(their_pages.requests()) + " pages)");
    }
    service.Close();  // no session of ours is counted in the window
    if (idle) std::this_thread::sleep_for(seconds(2));  // the last answers are settled
    Result r;
    const auto start = Clock::now();
    const Threads o0 = ReadThreads(ours.pid()), t0 = ReadThreads(theirs.pid());
    const Threads b0 = floor ? ReadThreads(floor->pid()) : Threads{};
    const long oc0 = ours_pages.requests(), tc0 = their_pages.requests();
    const long bc0 = bare_pages.requests();
    const long pings0 = notify.pings();
    for (int i = 0; i < window * 10 && !g_interrupted; ++i) {
      std::this_thread::sleep_for(milliseconds(100));
    }
    if (g_interrupted) return std::nullopt;
    const Threads o1 = ReadThreads(ours.pid()), t1 = ReadThreads(theirs.pid());
    const Threads b1 = floor ? ReadThreads(floor->pid()) : Threads{};
    const double span = std::chrono::duration<double>(Clock::now() - start).count();
    Fill(r.ours, o0, o1, ours_pages.requests() - oc0, span, ours.pid());
    Fill(r.theirs, t0, t1, their_pages.requests() - tc0, span, theirs.pid());
    if (floor) {
      r.bare.emplace();
      Fill(*r.bare, b0, b1, bare_pages.requests() - bc0, span, floor->pid());
      if (!floor->Running()) return Fail("the libcurl client ended during the window");
    }
    r.pings = notify.pings() - pings0;
    if (!ours.Running() || !theirs.Running()) return Fail("a process ended during the window");
    if (round_limit > 0) {
      WaitUntil([&] { return ours_pages.last_round_seconds().has_value(); },
                seconds(round_limit) - (Clock::now() - start));
      r.round = ours_pages.last_round_seconds();
    }
    service.Ask("OpsCommand 1003");
    return r;
  }

 private:
  static std::optional<Result> Fail(const std::string& why) {
    std::fprintf(stderr, "service_vs_monit: %s\n", why.c_str());
    return std::nullopt;
  }

  static void Fill(Sample& s, const Threads& a, const Threads& b, long checks, double span,
                   pid_t pid) {
    s.cpu = b.cpu - a.cpu;
    s.wakes = b.wakes - a.wakes;
    s.checks = checks;
    s.seconds = span;
    for (const auto& [name, n] : b.by_name) {
      const auto before = a.by_name.find(name);
      s.wakes_by_thread[name] = n - (before == a.by_name.end() ? 0 : before->second);
    }
    s.rss = StatusKb(pid, "VmRSS");
    s.anon = StatusKb(pid, "RssAnon");
    s.peak = StatusKb(pid, "VmHWM");
  }

  void WriteSettings(const Pages& pages, int urls) const {
    CCryptoTxtfile file;
    file.Initialize(CCryptoTxtfile::kSettingsLineSize);
    file.Create(unit_.folder + "/AutoSet.caf");
    for (const char* line : {"[KEYS]", "AdminId=a", "Password=p", "MachineName=BENCH",
                             "MinuteInterval=1", "WATCH=0", "[URLS]"}) {
      file.Append(line);
    }
    for (int i = 0; i < urls; ++i) file.Append(pages.Url(i));
    file.Close();
    // The example restart program of an installation: the engine starts without waiting.
    const std::string ini = unit_.folder + "/Sentinex.ini";
    std::ofstream(ini) << "MaxWait=60\n";
    ::chmod(ini.c_str(), 0600);
  }

  void WriteMonitrc(const Pages& pages, int urls, int daemon) const {
    const std::string path = dir_ + "/monitrc";
    std::ofstream rc(path, std::ios::trunc);
    rc << "set daemon " << daemon << "\nset logfile " << dir_ << "/monit.log\nset idfile " << dir_
       << "/monit.id\nset statefile " << dir_ << "/monit.state\nset pidfile " << dir_
       << "/monit.pid\n";
    for (int i = 0; i < urls; ++i) {
      rc << "check host page" << i << " with address 127.0.0.1\n  if failed port " << pages.port()
         << " protocol http request \"" << Pages::Path(i) << "\" then alert\n";
    }
    rc.close();
    ::chmod(path.c_str(), 0600);
  }

  std::string dir_;
  Unit unit_;
};

// 500 bare libcurl fetches, a fresh handle and connection each: their wall time, or -1.
size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

double BareFetchSeconds(int urls) {
  Pages pages(urls);
  const auto start = Clock::now();
  for (int i = 0; i < urls; ++i) {
    CURL* h = curl_easy_init();
    const std::string url = pages.Url(i);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_cleanup(h);
    if (rc != CURLE_OK) return -1;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---------------------------------------------------------------------------------------------
// The table.

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

struct Row {
  std::string name, unit, target;
  std::vector<double> ours, theirs, ratio;
  bool ratio_target = true;  // the target is on the ratio; else on ours
  double limit = 0;
};

bool Passes(const Row& r) {
  const std::vector<double>& on = r.ratio_target ? r.ratio : r.ours;
  return !on.empty() && Median(on) <= r.limit;
}

void PrintRow(const Row& r) {
  // A ratio to nothing (monit idle on the CPU) says nothing.
  const bool ratio_shown = !r.theirs.empty() && Median(r.theirs) > 0;
  const auto cell = [](const std::vector<double>& v, bool median) {
    char text[32];
    if (v.empty()) return std::string("-");
    std::snprintf(text, sizeof text, "%.4g", median ? Median(v) : Min(v));
    return std::string(text);
  };
  std::printf("%-34s %-9s %10s %10s %10s %10s %8s %8s  %-26s %s\n", r.name.c_str(), r.unit.c_str(),
              cell(r.ours, false).c_str(), cell(r.ours, true).c_str(),
              cell(r.theirs, false).c_str(), cell(r.theirs, true).c_str(),
              ratio_shown ? cell(r.ratio, false).c_str() : "-",
              ratio_shown ? cell(r.ratio, true).c_str() : "-", r.target.c_str(),
              Passes(r) ? "PASS" : "FAIL");
}

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: service_vs_monit [--runs N] [--quick] [--strict] [--window SECONDS]\n"
               "                        [--idle-window SECONDS] [--cycle-limit SECONDS] [--keep]\n"
               "Runs the built snxsvc beside Debian's monit (%s) over 100 and 500 loopback\n"
               "URLs and prints CPU per 100 checks, memory, cost per URL, the 500-URL cycle's\n"
               "wall time and the idle cost: ours, monit, ratio (min and median of the runs)\n"
               "with PASS/FAIL against each target.\n"
               "  --runs N             runs of each measurement (default 5)\n"
               "  --quick              1 run with short windows\n"
               "  --strict             exit 1 when a target is not met\n"
               "  --window S           CPU window of the 100- and 500-URL runs (default 6)\n"
               "  --idle-window S      window of the idle run (default 12)\n"
               "  --cycle-limit S      wait for a whole 500-URL cycle at most S (default 20)\n"
               "  --keep               keep the temporary folder (logs) and print its path\n"
               "Exit: 0 measured, 1 could not measure (or --strict and a FAIL), 2 bad options.\n",
               kMonit);
}

std::optional<int> Number(const char* text, int low, int high) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < low || n > high) return std::nullopt;
  return static_cast<int>(n);
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/snxvsmonit-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty() && !keep) fs::remove_all(path_, ec);
  }
  bool keep = false;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Copies the built programs into `opt` and registers the service under the root: its unit.
std::optional<Unit> Install(const std::string& dir) {
  const std::string opt = dir + "/opt";
  fs::create_directories(opt);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(SNX_BIN_DIR, ec)) {
    if (entry.is_regular_file()) fs::copy_file(entry.path(), opt / entry.path().filename(), ec);
  }
  setenv("SNX_ROOT", (dir + "/root").c_str(), 1);
  setenv("SNX_POWER", "record", 1);
  Child reg({opt + "/snxsvc", "-Service"}, dir + "/install.out");
  if (reg.Wait(seconds(60)) != 0) {
    std::fprintf(stderr, "service_vs_monit: snxsvc -Service failed (see %s/install.out)\n",
                 dir.c_str());
    return std::nullopt;
  }
  std::optional<Unit> unit = ReadUnit(dir + "/root/etc/systemd/system/snxsvc.service");
  if (!unit) {
    std::fprintf(stderr, "service_vs_monit: no unit written under %s/root\n", dir.c_str());
    return std::nullopt;
  }
  for (const auto& [name, value] : unit->environment) setenv(name.c_str(), value.c_str(), 1);
  setenv("NOTIFY_SOCKET", (dir + "/notify").c_str(), 1);
  setenv("WATCHDOG_USEC", std::to_string(unit->watchdog_seconds * 1000000).c_str(), 1);
  return unit;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* option = argv[i];
    const bool has_value = i + 1 < argc;
    std::optional<int> n;
    if (a == "--help") {
      Usage(stdout);
      return 0;
    } else if (a == "--quick") {
      o.runs = 1;
      o.window = 4;
      o.idle_window = 8;
    } else if (a == "--keep") {
      o.keep = true;
    } else if (a == "--strict") {
      o.strict = true;
    } else if (a == "--runs" && has_value && (n = Number(argv[++i], 1, 50))) {
      o.runs = *n;
    } else if (a == "--window" && has_value && (n = Number(argv[++i], 1, 600))) {
      o.window = *n;
    } else if (a == "--idle-window" && has_value && (n = Number(argv[++i], 1, 600))) {
      o.idle_window = *n;
    } else if (a == "--cycle-limit" && has_value && (n = Number(argv[++i], 1, 600))) {
      o.cycle_limit = *n;
    } else {
      std::fprintf(stderr, "service_vs_monit: bad option or value: %s (see --help)\n", option);
      return 2;
    }
  }
  if (access(kMonit, X_OK) != 0) {
    std::fprintf(stderr,
                 "service_vs_monit: %s not found; install it with: apt-get install -y monit "
                 "(scripts/install-deps does)\n",
                 kMonit);
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  curl_global_init(CURL_GLOBAL_DEFAULT);

  TempDir dir;
  if (dir.path().empty()) return 1;
  dir.keep = o.keep;
  if (o.keep) std::fprintf(stderr, "service_vs_monit: keeps %s\n", dir.path().c_str());
  const std::optional<Unit> unit = Install(dir.path());
  if (!unit) return 1;
  Bench bench(dir.path(), *unit);

  Row cpu100{"CPU per 100 checks, 100 URLs", "ms", "ratio <= 0.5", {}, {}, {}, true, 0.5};
  Row anon{"RssAnon, 100 URLs", "kB", "ratio <= 1", {}, {}, {}, true, 1.0};
  Row rss{"VmRSS, 100 URLs", "kB", "ratio <= 1.3", {}, {}, {}, true, 1.3};
  Row hwm{"VmHWM, 100 URLs", "kB", "(shown)", {}, {}, {}, true, 1e9};
  // The floor: what libcurl alone costs for the same checks, against monit.
  Row bare_cpu{"libcurl alone: CPU per 100 checks", "ms", "(shown)", {}, {}, {}, true, 1e9};
  Row bare_anon{"libcurl alone: RssAnon", "kB", "(shown)", {}, {}, {}, true, 1e9};
  Row bare_rss{"libcurl alone: VmRSS", "kB", "(shown)", {}, {}, {}, true, 1e9};
  Row cpu500{"CPU per 100 checks, 500 URLs", "ms", "(shown)", {}, {}, {}, true, 1e9};
  Row linear{"CPU per URL, 500 against 100", "x", "ours <= 1.1", {}, {}, {}, false, 1.1};
  Row cycle{"500-URL cycle against bare+0.1s", "s", "ratio <= 1", {}, {}, {}, true, 1.0};
  Row idle_cpu{"idle CPU per minute", "s", "ours < 0.01", {}, {}, {}, false, 0.0099999};
  Row idle_wakes{
      "idle wake-ups per second", "1/s", "ours <= 0.6 (2 s slice)", {}, {}, {}, false, 0.6};
  Row idle_pings{"idle watchdog pings per minute", "1/min", "(shown)", {}, {}, {}, false, 1e9};
  std::map<std::string, long> last_idle_threads;
  double last_idle_span = 0;

  const auto ratio = [](double a, double b) {
    return std::isnan(a) || std::isnan(b) ? std::nan("") : b > 0 ? a / b : 0.0;
  };
  const auto add = [&](Row& row, double ours, double theirs) {
    if (std::isnan(ours) || std::isnan(theirs)) return;  // not measured: the row has no run
    row.ours.push_back(ours);
    row.theirs.push_back(theirs);
    row.ratio.push_back(ratio(ours, theirs));
  };
  int measured = 0;
  for (int run = 1; run <= o.runs && !g_interrupted; ++run) {
    std::fprintf(stderr, "run %d of %d: 100 URLs ...\n", run, o.runs);
    const auto a = bench.Measure(100, 1, 1, o.window, false, 0, true);
    if (!a) break;
    std::fprintf(stderr, "run %d of %d: 500 URLs ...\n", run, o.runs);
    const double bare = BareFetchSeconds(500);
    const auto b = bench.Measure(500, 1, 1, o.window, false, o.cycle_limit);
    if (!b || bare < 0) break;
    std::fprintf(stderr, "run %d of %d: idle ...\n", run, o.runs);
    const auto c = bench.Measure(100, 3600, 3600, o.idle_window, true, 0);
    if (!c) break;
    ++measured;
    add(cpu100, a->ours.per100() * 1000, a->theirs.per100() * 1000);
    add(anon, static_cast<double>(a->ours.anon), static_cast<double>(a->theirs.anon));
    add(rss, static_cast<double>(a->ours.rss), static_cast<double>(a->theirs.rss));
    add(hwm, static_cast<double>(a->ours.peak), static_cast<double>(a->theirs.peak));
    add(bare_cpu, a->bare->per100() * 1000, a->theirs.per100() * 1000);
    add(bare_anon, static_cast<double>(a->bare->anon), static_cast<double>(a->theirs.anon));
    add(bare_rss, static_cast<double>(a->bare->rss), static_cast<double>(a->theirs.rss));
    add(cpu500, b->ours.per100() * 1000, b->theirs.per100() * 1000);
    add(linear, ratio(b->ours.per100(), a->ours.per100()),
        ratio(b->theirs.per100(), a->theirs.per100()));
    // A cycle not seen within the limit counts as the limit (a FAIL against any bare time
    // below it).
    add(cycle, b->round.value_or(static_cast<double>(o.cycle_limit)), bare + 0.1);
    add(idle_cpu, c->ours.cpu * 60 / c->ours.seconds, c->theirs.cpu * 60 / c->theirs.seconds);
    add(idle_wakes, static_cast<double>(c->ours.wakes) / c->ours.seconds,
        static_cast<double>(c->theirs.wakes) / c->theirs.seconds);
    idle_pings.ours.push_back(static_cast<double>(c->pings) * 60 / c->ours.seconds);
    last_idle_threads = c->ours.wakes_by_thread;
    last_idle_span = c->ours.seconds;
    if (!b->round) {
      std::fprintf(stderr, "run %d: no whole 500-URL cycle within %d s\n", run, o.cycle_limit);
    }
  }
  if (g_interrupted) {
    std::fprintf(stderr, "service_vs_monit: interrupted\n");
    return 1;
  }
  if (measured == 0) return 1;

  std::printf("snxsvc (as its unit starts it) beside monit 5.33 (-I), %d run(s)\n", measured);
  std::printf("%-34s %-9s %10s %10s %10s %10s %8s %8s  %-26s %s\n", "figure", "unit", "ours min",
              "ours med", "monit min", "monit med", "ratio mn", "ratio md", "target", "");
  bool all = true;
  for (const Row* r :
       {&cpu100, &anon, &rss, &hwm, &bare_cpu, &bare_anon, &bare_rss, &cpu500, &linear, &cycle,
        &idle_cpu, &idle_wakes}) {
    PrintRow(*r);
    if (r->target != "(shown)") all = all && Passes(*r);
  }
  std::printf("%-34s %-9s %10.3g %10.3g\n", idle_pings.name.c_str(), idle_pings.unit.c_str(),
              Min(idle_pings.ours), Median(idle_pings.ours));
  std::printf("idle wake-ups per thread of snxsvc (last run, %.0f s):", last_idle_span);
  for (const auto& [name, n] : last_idle_threads) std::printf(" %s %ld;", name.c_str(), n);
  std::printf(
      "\nCPU: all threads' time on the CPU over each window divided by the pages fetched in it.\n"
      "libcurl alone: bench/bare_curl_client, checking its own 100 pages in the same window as\n"
      "the two, one handle reset before each request, a fresh connection each, a 1 s pause.\n"
      "The 500-URL cycle row compares the first-to-last request of one round with 500 bare\n"
      "libcurl fetches plus 100 ms; a round not seen within --cycle-limit counts as the limit.\n");
  return o.strict && !all ? 1 : 0;
}

// snxctl go|test|stop|state|action|phone|status|watch: the control commands. They speak the
// service's command socket protocol and nothing else (docs/service.md).

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "ops/ops_status.h"
#include "platform/line_socket.h"
#include "snxctl/status_view.h"
#include "snxctl/subcommand.h"
#include "text/control_protocol.h"

namespace snxctl {
namespace {

namespace sp = snx::platform;

// The first request of a connection may wait for the service to make its command object
// (up to 15 seconds for the operations thread's start-up).
constexpr std::chrono::seconds kAnswerWait{40};
// How long a service with all its places taken is asked again, and the pause between tries;
// the service frees a place held by a client that sends nothing within 5 seconds.
constexpr std::chrono::seconds kBusyRetry{15};
constexpr std::chrono::milliseconds kBusyPause{200};

const char* StateName(std::int32_t state) { return OpsStateName(state); }

// One connection to the running service.
class Service {
 public:
  explicit Service(const char* command) : command_(command) {}

  bool Connect() {
    client_ = sp::MakeUnixLineClient();
    std::string error;
    if (client_->Connect(sp::ControlSocketPath(), error)) return true;
    if (client_->PermissionDenied()) return Denied();
    std::fprintf(stderr, "snxctl %s: the service is not running (nothing answers at %s: %s)\n",
                 command_, sp::ControlSocketPath().c_str(), error.c_str());
    return false;
  }

  std::optional<sp::ControlAnswer> Ask(sp::ControlMethod method, std::int32_t code) {
    std::string line;
    std::string error;
    if (!Exchange(sp::FormatControlRequest({method, code}), line, error)) {
      std::fprintf(stderr, "snxctl %s: %s\n", command_, error.c_str());
      return std::nullopt;
    }
    sp::ControlAnswer answer = sp::ParseControlAnswer(line);
    if (answer.kind == sp::AnswerKind::kError) {
      if (answer.text == "access denied") {
        Denied();
      } else {
        std::fprintf(stderr, "snxctl %s: the service answered: %s\n", command_,
                     answer.text.c_str());
      }
      return std::nullopt;
    }
    return answer;
  }

  // The socket refused to open for this user, or the service refused its credentials.
  bool Denied() const {
    std::fprintf(stderr, "snxctl %s: permission denied: run as root or as a member of snxadm\n",
                 command_);
    return false;
  }

  // One request and its answer. A service with all its places taken is asked again on a new
  // connection for a few seconds (it closes connections that send nothing); a connection the
  // service closed after it had answered on it (one left idle too long) is made again once.
  bool Exchange(const std::string& request, std::string& line, std::string& error) {
    const auto give_up = std::chrono::steady_clock::now() + kBusyRetry;
    bool reconnected = false;
    for (;;) {
      const bool answered =
          client_->Exchange(request, line, sp::kMaxAnswerLine, kAnswerWait, error);
      const bool busy = answered && line == sp::kBusyAnswer;
      if (answered && !busy) {
        served_ = true;
        return true;
      }
      if (busy && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(kBusyPause);
      } else if (busy || !served_ || reconnected) {
        return answered;
      } else {
        reconnected = true;
      }
      served_ = false;
      client_ = sp::MakeUnixLineClient();
      if (!client_->Connect(sp::ControlSocketPath(), error)) return false;
    }
  }

  std::optional<std::int32_t> Command(std::int32_t code) {
    auto answer = Ask(sp::ControlMethod::kOpsCommand, code);
    if (!answer) return std::nullopt;
    if (answer->kind != sp::AnswerKind::kInteger) {
      std::fprintf(stderr, "snxctl %s: unexpected answer\n", command_);
      return std::nullopt;
    }
    return answer->number;
  }

  std::optional<std::string> Text(std::int32_t code) {
    auto answer = Ask(sp::ControlMethod::kGetStringResult, code);
    if (!answer) return std::nullopt;
    return answer->text;
  }

  // The Status answer as one object (docs/service.md); `quiet` leaves a refusal unsaid.
  std::optional<nlohmann::json> Status(bool quiet = false) {
    std::vector<std::string> lines;
    std::string line;
    std::string error;
    bool read = Exchange(std::string(sp::kStatusRequest), line, error);
    while (read && line != sp::kStatusEnd && !line.starts_with("ERR ")) {
      lines.push_back(line);
      read = client_->ReadLine(line, sp::kMaxAnswerLine, kAnswerWait, error);
    }
    std::optional<nlohmann::json> status;
    if (!read) {
      std::fprintf(stderr, "snxctl %s: %s\n", command_, error.c_str());
    } else if (line.starts_with("ERR ")) {
      if (!quiet) {
        std::fprintf(stderr, "snxctl %s: the service answered: %s (an snxsvc without Status?)\n",
                     command_, sp::ParseControlAnswer(line).text.c_str());
      }
    } else if (!(status = StatusObject(lines, error))) {
      std::fprintf(stderr, "snxctl %s: %s\n", command_, error.c_str());
    }
    return status;
  }

 private:
  const char* command_;
  std::unique_ptr<sp::LineClient> client_;
  bool served_ = false;  // the current connection has answered a request
};

// --help, or no arguments at all. Returns an exit code when the command should end now.
std::optional<int> CheckNoArguments(const char* name, const char* help,
                                    const std::vector<std::string>& args) {
  if (args.empty()) return std::nullopt;
  if (args[0] == "--help" || args[0] == "-h") {
    std::fputs(help, stdout);
    return kExitOk;
  }
  return UsageError(name, "unexpected argument '" + args[0] + "'");
}

int SendCommand(const char* name, const char* help, std::int32_t code,
                const std::vector<std::string>& args) {
  if (auto done = CheckNoArguments(name, help, args)) return *done;
  Service service(name);
  if (!service.Connect()) return kExitFailure;
  const auto result = service.Command(code);
  if (!result) return kExitFailure;
  if (*result != -1) {
    std::fprintf(stderr, "snxctl %s: the service did not take the command (see SNXSVC.log)\n",
                 name);
    return kExitFailure;
  }
  std::printf("%s: sent\n", name);
  return kExitOk;
}

constexpr const char* kGoHelp =
    "usage: snxctl go\n\nStarts Go mode: the watchdog tests and mends until Stop. When Go mode\n"
    "already runs the command changes nothing.\n\n"
    "Exit status: 0 taken, 1 not taken or the service is not running, 2 bad arguments.\n";
constexpr const char* kTestHelp =
    "usage: snxctl test\n\nSends the Test command (it wakes the operations thread and changes\n"
    "nothing).\n\nExit status: 0 taken, 1 not taken or the service is not running, 2 bad "
    "arguments.\n";
constexpr const char* kStopHelp =
    "usage: snxctl stop\n\nEnds Go mode within about two seconds (the service keeps running).\n\n"
    "Exit status: 0 taken, 1 not taken or the service is not running, 2 bad arguments.\n";
constexpr const char* kStateHelp =
    "usage: snxctl state [--json]\n\nPrints the operations state: its number and its name "
    "(OPS_READY 999\n"
    "to OPS_STOPPING 1006), and whether the Go loop runs; then the automatic reboots of the\n"
    "last 24 hours, the MaxRebootsPerDay cap and the reboots withheld since the service\n"
    "started; and, when this start of the service resumed Go mode by itself, why. --json\n"
    "prints the same as one JSON object (docs/service.md).\n\n"
    "Exit status: 0 printed, 1 the service is not running, 2 bad arguments.\n";
constexpr const char* kActionHelp =
    "usage: snxctl action\n\nPrints the current action of the operations thread and the object\n"
    "it concerns (empty while none was published).\n\n"
    "Exit status: 0 printed, 1 the service is not running, 2 bad arguments.\n";
constexpr const char* kPhoneHelp =
    "usage: snxctl phone N\n\nAsks the phone alert component its answer N (1 to 4) and prints\n"
    "yes or no.\n\nExit status: 0 yes, 1 no or the service is not running, 2 bad arguments.\n";
constexpr const char* kStatusHelp =
    "usage: snxctl status [--json]\n\nOne line per watched item: its kind (local URL, remote "
    "URL, program,\n"
    "restart), name, state (up, down, unknown: not tested yet), since when, the last check,\n"
    "and for a URL the last HTTP status and the time the answer took to its last byte; then\n"
    "the operations state, the current action and when the next test is due. --json prints\n"
    "it as one JSON object (docs/service.md).\n\n"
    "Exit status: 0 printed, 1 the service is not running, 2 bad arguments.\n";
constexpr const char* kWatchHelp =
    "usage: snxctl watch [--count N]\n\nShows the operations state, the current action and "
    "when the next test\n"
    "is due, refreshed every second until interrupted (Ctrl-C). When the output is not a\n"
    "terminal, a refresh is printed only when something changed. --count N stops after N\n"
    "refreshes.\n\n"
    "Exit status: 0 interrupted or done, 1 the service is not running or went away, 2 bad\n"
    "arguments.\n";

int RunGo(const std::vector<std::string>& args) { return SendCommand("go", kGoHelp, 1000, args); }
int RunTest(const std::vector<std::string>& args) {
  return SendCommand("test", kTestHelp, 1001, args);
}
int RunStop(const std::vector<std::string>& args) {
  return SendCommand("stop", kStopHelp, 1003, args);
}

// `--json` alone (true), no arguments (false), or an exit code.
std::variant<bool, int> JsonFlag(const char* name, const char* help,
                                 const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "--json") return true;
  if (auto done = CheckNoArguments(name, help, args)) return *done;
  return false;
}

int RunState(const std::vector<std::string>& args) {
  const auto json = JsonFlag("state", kStateHelp, args);
  if (const int* done = std::get_if<int>(&json)) return *done;
  Service service("state");
  if (!service.Connect()) return kExitFailure;
  const auto state = service.Command(1004);
  const auto go = state ? service.Command(1005) : std::nullopt;
  // The reboot storm guard: "N C W" (a service without the guard answers NONE).
  const auto guard = go ? service.Text(1014) : std::nullopt;
  if (!guard) return kExitFailure;
  // Why this start resumed Go mode by itself (empty when it did not; NONE from older services).
  auto resumed = service.Text(1015);
  if (resumed && *resumed == "NONE") resumed.reset();
  if (std::get<bool>(json)) {
    PrintJson(StateObject(*state, *go == -1, guard, resumed));
    return kExitOk;
  }
  std::printf("%d %s%s\n", *state, StateName(*state), *go == -1 ? " (Go loop running)" : "");
  long reboots = 0;
  long cap = 0;
  unsigned long long withheld = 0;
  if (std::sscanf(guard->c_str(), "%ld %ld %llu", &reboots, &cap, &withheld) == 3) {
    const std::string limit =
        cap > 0 ? "MaxRebootsPerDay " + std::to_string(cap) : std::string("no cap");
    std::printf("automatic reboots in the last 24 hours: %ld (%s); reboots withheld: %llu\n",
                reboots, limit.c_str(), withheld);
  }
  if (resumed && !resumed->empty()) {
    std::printf("resumed GO mode by itself at start: %s\n", resumed->c_str());
  }
  return kExitOk;
}

int RunAction(const std::vector<std::string>& args) {
  if (auto done = CheckNoArguments("action", kActionHelp, args)) return *done;
  Service service("action");
  if (!service.Connect()) return kExitFailure;
  const auto action = service.Text(1012);
  const auto object = action ? service.Text(1013) : std::nullopt;
  if (!object) return kExitFailure;
  std::printf("action: %s\nobject: %s\n", action->c_str(), object->c_str());
  return kExitOk;
}

int RunPhone(const std::vector<std::string>& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kPhoneHelp, stdout);
    return kExitOk;
  }
  if (args.size() != 1 || args[0].size() != 1 || args[0][0] < '1' || args[0][0] > '4') {
    return UsageError("phone", "N must be 1, 2, 3 or 4");
  }
  Service service("phone");
  if (!service.Connect()) return kExitFailure;
  const auto answer = service.Command(1007 + (args[0][0] - '0'));
  if (!answer) return kExitFailure;
  std::printf("%s\n", *answer == -1 ? "yes" : "no");
  return *answer == -1 ? kExitOk : kExitFailure;
}

int RunStatus(const std::vector<std::string>& args) {
  const auto json = JsonFlag("status", kStatusHelp, args);
  if (const int* done = std::get_if<int>(&json)) return *done;
  Service service("status");
  if (!service.Connect()) return kExitFailure;
  const auto status = service.Status();
  if (!status) return kExitFailure;
  if (std::get<bool>(json)) {
    PrintJson(*status);
  } else {
    const std::string table = StatusTable(*status, std::time(nullptr));
    std::fwrite(table.data(), 1, table.size(), stdout);
  }
  return kExitOk;
}

volatile sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

int RunWatch(const std::vector<std::string>& args) {
  long count = -1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(kWatchHelp, stdout);
      return kExitOk;
    }
    char* end = nullptr;
    if (args[i] == "--count" && i + 1 < args.size() &&
        (count = std::strtol(args[i + 1].c_str(), &end, 10)) > 0 && *end == '\0') {
      ++i;
      continue;
    }
    return UsageError("watch", "bad argument '" + args[i] + "'");
  }
  Service service("watch");
  if (!service.Connect()) return kExitFailure;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  bool with_status = true;  // an snxsvc without the Status request shows no next test
  std::string shown;
  for (long round = 0; !g_interrupted && round != count; ++round) {
    const auto state = service.Command(1004);
    const auto go = state ? service.Command(1005) : std::nullopt;
    const auto text = go ? service.Text(1012) : std::nullopt;
    const auto object = text ? service.Text(1013) : std::nullopt;
    if (!object) return g_interrupted ? kExitOk : kExitFailure;
    const auto status = with_status ? service.Status(true) : std::nullopt;
    with_status = status.has_value();
    const nlohmann::json next =
        status ? status->value("next_test_epoch", nlohmann::json()) : nlohmann::json();
    const std::time_t now = std::time(nullptr);
    std::string view = "state " + std::to_string(*state) + " " + StateName(*state) +
                       (*go == -1 ? " (Go loop running)" : "") + "\n          action: " + *text +
                       "\n          object: " + *object + "\n";
    if (next.is_number_integer()) {
      const std::int64_t at = next.get<std::int64_t>();
      view += "          next test: " + LocalClock(at);
      // The count-down only where it is watched: elsewhere it would be a change every second.
      if (terminal && at > now) view += " (in " + std::to_string(at - now) + "s)";
      view += "\n";
    }
    // Away from a terminal (a log, a pipe) only a change is printed.
    if (terminal || view != shown) {
      if (terminal) std::fputs("\033[H\033[J", stdout);
      shown = view;
      std::printf("%s  %s", LocalClock(now).c_str(), view.c_str());
      std::fflush(stdout);
    }
    if (round + 1 == count) break;
    for (int slice = 0; slice < 10 && !g_interrupted; ++slice) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  return kExitOk;
}

const SubCommandRegistrar kGo({"go", "start Go mode in the running service", RunGo});
const SubCommandRegistrar kTest({"test", "send the Test command to the running service", RunTest});
const SubCommandRegistrar kStop({"stop", "end Go mode in the running service", RunStop});
const SubCommandRegistrar kState({"state", "the operations state of the running service",
                                  RunState});
const SubCommandRegistrar kAction({"action", "the current action of the running service",
                                   RunAction});
const SubCommandRegistrar kPhone({"phone", "one of the phone alert component's answers", RunPhone});
const SubCommandRegistrar kStatus({"status", "each watched item's state, then the operations",
                                   RunStatus});
const SubCommandRegistrar kWatch({"watch", "state and current action, refreshed every second",
                                  RunWatch});

}  // namespace
}  // namespace snxctl

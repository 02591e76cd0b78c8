// snxctl go|test|stop|state|action|phone|watch: the control commands. They speak the service's
// command socket protocol and nothing else (docs/service.md).

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
#include <vector>

#include "platform/control_protocol.h"
#include "platform/line_socket.h"
#include "snxctl/subcommand.h"

namespace snxctl {
namespace {

namespace sp = snx::platform;

// The first request of a connection may wait for the service to make its command object
// (up to 15 seconds for the operations thread's start-up).
constexpr std::chrono::seconds kAnswerWait{40};

const char* StateName(std::int32_t state) {
  switch (state) {
    case 0:
      return "NOT_STARTED";
    case 999:
      return "OPS_READY";
    case 1000:
      return "OPS_STOPPED";
    case 1001:
      return "OPS_GO_IDLE";
    case 1002:
      return "OPS_GO_TESTING";
    case 1003:
      return "OPS_GO_RESTARTING";
    case 1004:
      return "OPS_FAILURES_SEEN";
    case 1005:
      return "OPS_GO_REMOTE_FAILING";
    case 1006:
      return "OPS_STOPPING";
    default:
      return "UNKNOWN";
  }
}

// One connection to the running service.
class Service {
 public:
  explicit Service(const char* command) : command_(command) {}

  bool Connect() {
    client_ = sp::MakeUnixLineClient();
    std::string error;
    if (client_->Connect(sp::ControlSocketPath(), error)) return true;
    std::fprintf(stderr, "snxctl %s: the service is not running (nothing answers at %s: %s)\n",
                 command_, sp::ControlSocketPath().c_str(), error.c_str());
    return false;
  }

  std::optional<sp::ControlAnswer> Ask(sp::ControlMethod method, std::int32_t code) {
    std::string line;
    std::string error;
    if (!client_->Exchange(sp::FormatControlRequest({method, code}), line, sp::kMaxAnswerLine,
                           kAnswerWait, error)) {
      std::fprintf(stderr, "snxctl %s: %s\n", command_, error.c_str());
      return std::nullopt;
    }
    sp::ControlAnswer answer = sp::ParseControlAnswer(line);
    if (answer.kind == sp::AnswerKind::kError) {
      std::fprintf(stderr, "snxctl %s: the service answered: %s\n", command_, answer.text.c_str());
      if (answer.text == "access denied") {
        std::fprintf(stderr,
                     "snxctl %s: only root, the service's user and members of the group snxadm "
                     "may control it\n",
                     command_);
      }
      return std::nullopt;
    }
    return answer;
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

 private:
  const char* command_;
  std::unique_ptr<sp::LineClient> client_;
};

// --help, or no arguments at all. Returns an exit code when the command should end now.
std::optional<int> CheckNoArguments(const char* name, const char* help,
                                    const std::vector<std::string>& args) {
  if (args.empty()) return std::nullopt;
  if (args[0] == "--help" || args[0] == "-h") {
    std::fputs(help, stdout);
    return kExitOk;
  }
  std::fprintf(stderr, "snxctl %s: unexpected argument '%s'\n%s", name, args[0].c_str(), help);
  return kExitUsage;
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
    "usage: snxctl state\n\nPrints the operations state: its number and its name (OPS_READY 999\n"
    "to OPS_STOPPING 1006), and whether the Go loop runs; then the automatic reboots of the\n"
    "last 24 hours, the MaxRebootsPerDay cap and the reboots withheld since the service\n"
    "started; and, when this start of the service resumed Go mode by itself, why.\n\n"
    "Exit status: 0 printed, 1 the service is not running, 2 bad arguments.\n";
constexpr const char* kActionHelp =
    "usage: snxctl action\n\nPrints the current action of the operations thread and the object\n"
    "it concerns (empty while none was published).\n\n"
    "Exit status: 0 printed, 1 the service is not running, 2 bad arguments.\n";
constexpr const char* kPhoneHelp =
    "usage: snxctl phone N\n\nAsks the phone alert component its answer N (1 to 4) and prints\n"
    "yes or no.\n\nExit status: 0 yes, 1 no or the service is not running, 2 bad arguments.\n";
constexpr const char* kWatchHelp =
    "usage: snxctl watch [--count N]\n\nShows the operations state and the current action,\n"
    "refreshed every second until interrupted (Ctrl-C). --count N stops after N refreshes.\n\n"
    "Exit status: 0 interrupted or done, 1 the service is not running or went away, 2 bad\n"
    "arguments.\n";

int RunGo(const std::vector<std::string>& args) { return SendCommand("go", kGoHelp, 1000, args); }
int RunTest(const std::vector<std::string>& args) {
  return SendCommand("test", kTestHelp, 1001, args);
}
int RunStop(const std::vector<std::string>& args) {
  return SendCommand("stop", kStopHelp, 1003, args);
}

int RunState(const std::vector<std::string>& args) {
  if (auto done = CheckNoArguments("state", kStateHelp, args)) return *done;
  Service service("state");
  if (!service.Connect()) return kExitFailure;
  const auto state = service.Command(1004);
  const auto go = state ? service.Command(1005) : std::nullopt;
  if (!go) return kExitFailure;
  std::printf("%d %s%s\n", *state, StateName(*state), *go == -1 ? " (Go loop running)" : "");
  // The reboot storm guard: "N C W" (a service without the guard answers NONE).
  const auto guard = service.Text(1014);
  if (!guard) return kExitFailure;
  long reboots = 0;
  long cap = 0;
  unsigned long long withheld = 0;
  if (std::sscanf(guard->c_str(), "%ld %ld %llu", &reboots, &cap, &withheld) == 3) {
    const std::string limit =
        cap > 0 ? "MaxRebootsPerDay " + std::to_string(cap) : std::string("no cap");
    std::printf("automatic reboots in the last 24 hours: %ld (%s); reboots withheld: %llu\n",
                reboots, limit.c_str(), withheld);
  }
  // Why this start resumed Go mode by itself (empty when it did not; NONE from older services).
  if (const auto resumed = service.Text(1015); resumed && !resumed->empty()) {
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
    std::fprintf(stderr, "snxctl phone: N must be 1, 2, 3 or 4\n%s", kPhoneHelp);
    return kExitUsage;
  }
  Service service("phone");
  if (!service.Connect()) return kExitFailure;
  const auto answer = service.Command(1007 + (args[0][0] - '0'));
  if (!answer) return kExitFailure;
  std::printf("%s\n", *answer == -1 ? "yes" : "no");
  return *answer == -1 ? kExitOk : kExitFailure;
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
    std::fprintf(stderr, "snxctl watch: bad argument '%s'\n%s", args[i].c_str(), kWatchHelp);
    return kExitUsage;
  }
  Service service("watch");
  if (!service.Connect()) return kExitFailure;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  for (long round = 0; !g_interrupted && round != count; ++round) {
    const auto state = service.Command(1004);
    const auto go = state ? service.Command(1005) : std::nullopt;
    const auto text = go ? service.Text(1012) : std::nullopt;
    const auto object = text ? service.Text(1013) : std::nullopt;
    if (!object) return g_interrupted ? kExitOk : kExitFailure;
    char stamp[16] = "";
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof(stamp), "%H:%M:%S", std::localtime(&now));
    if (terminal) std::fputs("\033[H\033[J", stdout);
    std::printf("%s  state %d %s%s\n          action: %s\n          object: %s\n", stamp, *state,
                StateName(*state), *go == -1 ? " (Go loop running)" : "", text->c_str(),
                object->c_str());
    std::fflush(stdout);
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
const SubCommandRegistrar kWatch({"watch", "state and current action, refreshed every second",
                                  RunWatch});

}  // namespace
}  // namespace snxctl

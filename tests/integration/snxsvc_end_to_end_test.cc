// The real snxsvc, run as systemd would run it ("-Foreground") in a temporary root, driven over
// its command socket with snxctl: Go, the state and the current action, Stop, a peer of another
// uid refused, SIGTERM in the middle of a Go loop's wait ending the process within seconds, and
// Go resumed after a kill.

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <nlohmann/json.hpp>

#include "integration/service_rig.h"
#include "platform/line_socket.h"
#include "text/control_protocol.h"

namespace snx::test {
namespace {

using Clock = std::chrono::steady_clock;

bool Waiting(const CtlRun& r) {
  return r.out.find("Go MODE: waiting for next test") != std::string::npos;
}
bool Stopped(const CtlRun& r) { return r.out.find("1000 OPS_STOPPED") != std::string::npos; }

class SnxsvcEndToEnd : public ::testing::Test {
 protected:
  // One minute is 20 seconds: after a good cycle the Go loop sits in a long wait.
  SnxsvcEndToEnd() : rig_("20") {
    rig_.Copy("snxsvc");
    WriteSettings(rig_.install,
                  {"[KEYS]", "AdminId=admin", "Password=secret", "MachineName=E2E",
                   "MinuteInterval=1", "WATCH=0", "LogEvents=1", "[URLS]", site_.Url("/")});
  }

  ServiceRig rig_;
  LoopbackHttpServer site_{
      [](const std::string&) { return LoopbackHttpServer::Answer(200, {}, "ok"); }};
};

TEST_F(SnxsvcEndToEnd, DrivenBySnxctlAndEndedBySigtermDuringTheWait) {
  EXPECT_TRUE(Ran(Snxctl({"state"}), 1, {"the service is not running"}));

  auto service = rig_.StartAnswering();
  EXPECT_TRUE(Ran(Snxctl({"go"}), 0));
  const CtlRun sleeping = SnxctlUntil({"action"}, Waiting, std::chrono::seconds(40));
  EXPECT_THAT(sleeping.out, HasSubstr("action: Go MODE: waiting for next test :\nobject: ."));
  // Not on a terminal, watch prints a refresh only when something changed: the second of two
  // refreshes during the wait is the same as the first.
  const CtlRun watch = Snxctl({"watch", "--count", "2"});
  EXPECT_TRUE(Ran(watch, 0));
  EXPECT_EQ(std::count(watch.out.begin(), watch.out.end(), '\n'), 4) << watch.out;
  EXPECT_TRUE(HasAll(watch.out, {"state 1001 OPS_GO_IDLE (Go loop running)", "next test: "}));
  // status --json: one object with the documented keys; the URL was tested and is up.
  const CtlRun status = Snxctl({"status", "--json"});
  ASSERT_TRUE(Ran(status, 0));
  const nlohmann::json shown = nlohmann::json::parse(status.out, nullptr, false);
  ASSERT_TRUE(shown.is_object()) << status.out;
  const auto holds = [](const nlohmann::json& shown, const nlohmann::json& expected) {
    for (const auto& [key, value] : expected.items())
      EXPECT_EQ(shown.value(key, nlohmann::json()), value) << key;
  };
  holds(shown, R"({"ops_state": 1001, "ops_state_name": "OPS_GO_IDLE", "go_loop_running": true,
                   "action": "Go MODE: waiting for next test :"})"_json);
  EXPECT_GT(shown["next_test_epoch"].get<std::int64_t>(),
            shown["last_cycle_epoch"].get<std::int64_t>());
  EXPECT_TRUE(shown["next_test"].get<std::string>().ends_with("Z"));
  ASSERT_EQ(shown["items"].size(), 2u) << status.out;  // the URL and the restart engine
  const nlohmann::json& url = shown["items"][0];
  holds(url,
        {{"kind", "local_url"}, {"name", site_.Url("/")}, {"state", "up"}, {"http_status", 200}});
  EXPECT_TRUE(url["response_ms"].is_number_integer() && url["since_epoch"].is_number_integer() &&
              url["last_check"].is_string());
  EXPECT_EQ(shown["items"][1]["state"], "unknown");
  EXPECT_THAT(Snxctl({"status"}).out, HasSubstr("local URL   " + site_.Url("/")));
  // No phone component in this folder: every answer is no.
  EXPECT_TRUE(Ran(Snxctl({"phone", "4"}), 1, {"no\n"}));

  // Stop ends the loop within a wait slice; the service stays.
  EXPECT_EQ(Snxctl({"stop"}).exit_code, 0);
  const CtlRun stopped = SnxctlUntil({"state"}, Stopped, std::chrono::seconds(10));
  EXPECT_TRUE(Stopped(stopped) && !InGo(stopped)) << stopped.out;

  // A peer of another uid, outside snxadm, with the socket opened to everyone: the credential
  // check refuses it, and it is told so.
  if (CanRunAsNobody()) {
    for (std::string dir = fs::path(platform::ControlSocketPath()).parent_path();
         dir.size() >= rig_.root.path().size(); dir = fs::path(dir).parent_path()) {
      ::chmod(dir.c_str(), 0755);
    }
    ::chmod(platform::ControlSocketPath().c_str(), 0666);
    EXPECT_TRUE(Ran(AsNobody({"state"}), 1,
                    {"snxctl state: permission denied: run as root or as a member of snxadm\n"}));
  }

  // Go again, then SIGTERM while the loop waits out its 20-second minute.
  EXPECT_EQ(Snxctl({"go"}).exit_code, 0);
  SnxctlUntil({"action"}, Waiting, std::chrono::seconds(40));
  const auto sent = Clock::now();
  EXPECT_EQ(service->Terminate(), 0) << service->Output();
  EXPECT_LT(Clock::now() - sent, std::chrono::seconds(5));

  const std::string out = service->Output();
  EXPECT_TRUE(HasAll(out, {"SNXSVC: Service started", "SNXSVC: Service stopped"}));
  EXPECT_EQ(CountOf(out, "Refused a command connection of uid 65534"), CanRunAsNobody() ? 1 : 0);
  const std::string log = rig_.Log();
  // Two Stops: snxctl's, and the one SIGTERM sends before the teardown.
  EXPECT_EQ(CountOf(log, "CSNXSVR::OpsCommand SNX_STOP command received."), 2);
  // A quiet start on a stock machine: no browser, no pop-up key yet, no message box text.
  for (const char* windows_only :
       {"Where is Internet Explorer?", "ReadPopupDisableState() failed", "Internet Explorer"}) {
    EXPECT_THAT(log + out, Not(HasSubstr(windows_only)));
  }
  for (const std::string& line : LinesOf(out)) EXPECT_THAT(line, ::testing::StartsWith("SNXSVC: "));
  EXPECT_FALSE(fs::exists(platform::ControlSocketPath()));
  EXPECT_EQ(Snxctl({"action"}).exit_code, 1);
}

// Clients that connect and send nothing take every place; the service drops them after a few
// seconds, and snxctl, refused meanwhile, tries again until it is served.
TEST_F(SnxsvcEndToEnd, StuckClientsDelaySnxctlOnlyBriefly) {
  auto service = rig_.StartAnswering();
  std::vector<std::unique_ptr<platform::LineClient>> stuck;
  for (int i = 0; i < 20; ++i) {
    stuck.push_back(platform::MakeUnixLineClient());
    std::string error;
    ASSERT_TRUE(stuck.back()->Connect(platform::ControlSocketPath(), error)) << error;
  }
  // The last ones found every place taken.
  std::string answer, error;
  ASSERT_TRUE(
      stuck.back()->Exchange("OpsCommand 1004", answer, 4096, std::chrono::seconds(10), error))
      << error;
  EXPECT_EQ(answer, platform::kBusyAnswer);
  EXPECT_TRUE(Ran(Snxctl({"state"}), 0, {"999 OPS_READY"}));
}

// A datagram socket standing in for systemd's NOTIFY_SOCKET.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  }
  ~NotifySocket() { ::close(fd_); }
  // Drops what came so far, then waits up to `limit` for `state`.
  bool Await(const std::string& state, std::chrono::seconds limit) {
    char buffer[512];
    while (::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0 && std::string(buffer, static_cast<std::size_t>(n)) == state) return true;
    }
    return false;
  }

 private:
  int fd_ = -1;
};

// Installed with "-Service" (the unit under the test root is all AutoRun needs): Go, then the
// service is killed and started again as systemd would, and resumes Go by itself; after an
// administrator's stop it starts idle. All along the operations loop pings the watchdog.
TEST_F(SnxsvcEndToEnd, GoResumesAfterAKillAndAnAdministratorsStopIsKept) {
  // The plug-ins (which "-Service" registers) and a restart program: without the watcher and
  // the program the restart engine does not start and nothing resumes.
  ASSERT_TRUE(rig_.InstallService());
  rig_.RestartProgram("MaxWait=30\n");
  NotifySocket notify(rig_.root.File("notify"));
  ScopedEnv socket_env("NOTIFY_SOCKET", rig_.root.File("notify").c_str());
  // A 4-second watchdog: pings at most a second apart, so each wait below sees one.
  ScopedEnv watchdog_env("WATCHDOG_USEC", "4000000");

  auto service = rig_.StartAnswering();
  EXPECT_TRUE(notify.Await("WATCHDOG=1", std::chrono::seconds(5)));  // idle
  EXPECT_EQ(Snxctl({"go"}).exit_code, 0);
  ASSERT_TRUE(InGo(SnxctlUntil({"state"}, InGo, std::chrono::seconds(40))));
  EXPECT_TRUE(notify.Await("WATCHDOG=1", std::chrono::seconds(5)));  // in Go

  service.reset();         // killed
  service = rig_.Start();  // as systemd's Restart= would
  const CtlRun resumed = SnxctlUntil({"state"}, InGo, std::chrono::seconds(40));
  EXPECT_TRUE(InGo(resumed)) << resumed.out << service->Output();
  EXPECT_THAT(resumed.out, HasSubstr("resumed GO mode by itself at start: GO mode was running "
                                     "when the service ended without a stop"));
  EXPECT_GE(site_.request_count(), 1);

  // The administrator's stop, then the system's stop: the next start stays idle.
  EXPECT_EQ(Snxctl({"stop"}).exit_code, 0);
  SnxctlUntil({"state"}, Stopped, std::chrono::seconds(10));
  EXPECT_EQ(service->Terminate(), 0) << service->Output();
  service = rig_.StartAnswering();
  // The third start has decided whether to resume once its start-up is done.
  const auto init_done = "COpsMngrThread::LowLevelInit() done";
  EXPECT_TRUE(Eventually([&] { return CountOf(rig_.Log(), init_done) == 3; }));
  EXPECT_TRUE(Ran(Snxctl({"state"}), 0, {"999 OPS_READY"}));
  EXPECT_THAT(Snxctl({"state"}).out, Not(HasSubstr("resumed")));
  // "-Service" made the product's entry, so no start complains of a missing one.
  EXPECT_THAT(rig_.Log(), Not(HasSubstr("LoadUninstallIconKey() failed")));
}

}  // namespace
}  // namespace snx::test

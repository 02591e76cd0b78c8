// The real snxsvc, run as systemd would run it ("-Foreground") in a temporary root, driven over
// its command socket with snxctl: Go, the state and the current action, Stop, a peer of another
// uid refused, SIGTERM in the middle of a Go loop's wait ending the process within seconds, and
// settings changed with snxctl conf while Go runs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "components/component_factory.h"
#include "files/settings_file_writer.h"
#include "integration/subprocess.h"
#include "platform/line_socket.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"
#include "text/control_protocol.h"

namespace snx::test {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using CtlRun = snx::test::Run;  // gtest's Test::Run hides the name inside a fixture

std::string BinFile(const std::string& name) {
  const char* dir = std::getenv("SNX_TEST_BIN_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/bin/" + name;
}

// Runs snxctl until `done` accepts its run, at most `limit`; the last run.
template <class F>
CtlRun SnxctlUntil(const std::vector<std::string>& args, F done, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  CtlRun run = Snxctl(args);
  while (!done(run) && Clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    run = Snxctl(args);
  }
  return run;
}

class SnxsvcEndToEnd : public ::testing::Test {
 protected:
  SnxsvcEndToEnd()
      : site_([](const std::string&) { return LoopbackHttpServer::Answer(200, {}, "ok"); }) {
    // The install folder is the executable's own: a copy of snxsvc beside its settings.
    fs::copy_file(BinFile("snxsvc"), install_.File("snxsvc"));
    ::chmod(install_.File("snxsvc").c_str(), 0755);
    // One minute is 20 seconds: after a good cycle the Go loop sits in a long wait.
    WriteSettings(install_,
                  {"[KEYS]", "AdminId=admin", "Password=secret", "MachineName=E2E",
                   "MinuteInterval=1", "WATCH=0", "LogEvents=1", "[URLS]", site_.Url("/")});
  }

  std::unique_ptr<Child> StartService() {
    return std::make_unique<Child>(std::vector<std::string>{install_.File("snxsvc"), "-Foreground"},
                                   true);
  }

  TempDir install_;
  TempDir root_;
  ScopedEnv root_env_{"SNX_ROOT", root_.path().c_str()};
  ScopedEnv power_env_{"SNX_POWER", "record"};
  ScopedEnv minute_env_{"SNX_MINUTE_SECONDS", "20"};
  LoopbackHttpServer site_;
};

TEST_F(SnxsvcEndToEnd, DrivenBySnxctlAndEndedBySigtermDuringTheWait) {
  const CtlRun absent = Snxctl({"state"});
  EXPECT_EQ(absent.exit_code, 1);
  EXPECT_THAT(absent.out, HasSubstr("the service is not running"));

  auto service = StartService();
  ASSERT_GT(service->pid(), 0);
  const auto ready = [](const CtlRun& r) { return r.exit_code == 0; };
  const CtlRun first = SnxctlUntil({"state"}, ready, std::chrono::seconds(30));
  ASSERT_EQ(first.exit_code, 0) << first.out << service->Output();
  EXPECT_THAT(first.out, HasSubstr("999 OPS_READY"));

  const auto waiting = [](const CtlRun& r) {
    return r.out.find("Go MODE: waiting for next test") != std::string::npos;
  };
  const CtlRun go = Snxctl({"go"});
  EXPECT_EQ(go.exit_code, 0) << go.out;
  const CtlRun sleeping = SnxctlUntil({"action"}, waiting, std::chrono::seconds(40));
  EXPECT_THAT(sleeping.out, HasSubstr("action: Go MODE: waiting for next test :\nobject: ."));
  EXPECT_THAT(Snxctl({"state"}).out, HasSubstr("1001 OPS_GO_IDLE (Go loop running)"));
  // Not on a terminal, watch prints a refresh only when something changed: the second of two
  // refreshes during the wait is the same as the first.
  const CtlRun watch = Snxctl({"watch", "--count", "2"});
  EXPECT_EQ(watch.exit_code, 0) << watch.out;
  EXPECT_EQ(std::count(watch.out.begin(), watch.out.end(), '\n'), 4) << watch.out;
  EXPECT_THAT(watch.out, HasSubstr("state 1001 OPS_GO_IDLE (Go loop running)"));
  EXPECT_THAT(watch.out, HasSubstr("next test: "));
  // status --json: one object with the documented keys; the URL was tested and is up.
  const CtlRun status = Snxctl({"status", "--json"});
  ASSERT_EQ(status.exit_code, 0) << status.out;
  const nlohmann::json shown = nlohmann::json::parse(status.out, nullptr, false);
  ASSERT_TRUE(shown.is_object()) << status.out;
  EXPECT_EQ(shown["ops_state"], 1001);
  EXPECT_EQ(shown["ops_state_name"], "OPS_GO_IDLE");
  EXPECT_EQ(shown["go_loop_running"], true);
  EXPECT_EQ(shown["action"], "Go MODE: waiting for next test :");
  EXPECT_GT(shown["next_test_epoch"].get<std::int64_t>(),
            shown["last_cycle_epoch"].get<std::int64_t>());
  EXPECT_TRUE(shown["next_test"].get<std::string>().ends_with("Z"));
  ASSERT_EQ(shown["items"].size(), 2u) << status.out;  // the URL and the restart engine
  const nlohmann::json& url = shown["items"][0];
  EXPECT_EQ(url["kind"], "local_url");
  EXPECT_EQ(url["name"], site_.Url("/"));
  EXPECT_EQ(url["state"], "up");
  EXPECT_EQ(url["http_status"], 200);
  EXPECT_TRUE(url["response_ms"].is_number_integer());
  EXPECT_TRUE(url["since_epoch"].is_number_integer() && url["last_check"].is_string());
  EXPECT_EQ(shown["items"][1]["state"], "unknown");
  EXPECT_THAT(Snxctl({"status"}).out, HasSubstr("local URL   " + site_.Url("/")));
  // No phone component in this folder: every answer is no.
  const CtlRun phone = Snxctl({"phone", "4"});
  EXPECT_EQ(phone.exit_code, 1);
  EXPECT_EQ(phone.out, "no\n");
  EXPECT_GE(site_.request_count(), 1);
  EXPECT_TRUE(fs::exists(install_.File("Beat.txt")));

  // Stop ends the loop within a wait slice; the service stays.
  EXPECT_EQ(Snxctl({"stop"}).exit_code, 0);
  const CtlRun stopped = SnxctlUntil(
      {"state"},
      [](const CtlRun& r) { return r.out.find("1000 OPS_STOPPED") != std::string::npos; },
      std::chrono::seconds(10));
  EXPECT_THAT(stopped.out, HasSubstr("1000 OPS_STOPPED"));
  EXPECT_THAT(stopped.out, ::testing::Not(HasSubstr("Go loop running")));

  // A peer of another uid, outside snxadm: first the socket's folder keeps it out, then the
  // socket is opened to everyone and the credential check refuses. Either way it is told so.
  if (::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0) {
    const std::vector<std::string> stranger = {"--reuid=65534", "--regid=65534", "--clear-groups",
                                               SnxctlPath(), "state"};
    ::chmod(root_.path().c_str(), 0755);
    const CtlRun kept_out = Snxctl(stranger, "/usr/bin/setpriv");
    EXPECT_EQ(kept_out.exit_code, 1) << kept_out.out;
    EXPECT_EQ(kept_out.out,
              "snxctl state: permission denied: run as root or as a member of snxadm\n");
    for (std::string dir = fs::path(platform::ControlSocketPath()).parent_path();
         dir.size() >= root_.path().size(); dir = fs::path(dir).parent_path()) {
      ::chmod(dir.c_str(), 0755);
    }
    ::chmod(platform::ControlSocketPath().c_str(), 0666);
    const CtlRun refused = Snxctl(stranger, "/usr/bin/setpriv");
    EXPECT_EQ(refused.exit_code, 1) << refused.out;
    EXPECT_EQ(refused.out,
              "snxctl state: permission denied: run as root or as a member of snxadm\n");
  }

  // Go again, then SIGTERM while the loop waits out its 20-second minute.
  EXPECT_EQ(Snxctl({"go"}).exit_code, 0);
  SnxctlUntil({"action"}, waiting, std::chrono::seconds(40));
  const auto sent = Clock::now();
  ASSERT_EQ(::kill(service->pid(), SIGTERM), 0);
  const int code = service->Wait(std::chrono::seconds(20));
  const auto took = Clock::now() - sent;
  EXPECT_EQ(code, 0) << service->Output();
  EXPECT_LT(took, std::chrono::seconds(5));

  const std::string out = service->Output();
  EXPECT_THAT(out, HasSubstr("SNXSVC: Service started"));
  EXPECT_THAT(out, HasSubstr("SNXSVC: Service stopped"));
  if (::geteuid() == 0) {
    EXPECT_THAT(out, HasSubstr("Refused a command connection of uid 65534"));
  }
  const std::string log = install_.Read("SNXSVC.log");
  // Two Stops: snxctl's, and the one SIGTERM sends before the teardown.
  const std::string stop_line = "CSNXSVR::OpsCommand SNX_STOP command received.";
  std::size_t stops = 0;
  for (auto at = log.find(stop_line); at != std::string::npos; at = log.find(stop_line, at + 1)) {
    ++stops;
  }
  EXPECT_EQ(stops, 2u);
  EXPECT_THAT(log, HasSubstr("SNXSvc functions terminated."));
  // A quiet start on a stock machine: no browser, no pop-up key yet, no message box text.
  for (const char* windows_only :
       {"Where is Internet Explorer?", "ReadPopupDisableState() failed", "Internet Explorer"}) {
    EXPECT_THAT(log + out, ::testing::Not(HasSubstr(windows_only)));
  }
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    EXPECT_THAT(line, ::testing::StartsWith("SNXSVC: "));
  EXPECT_FALSE(fs::exists(platform::ControlSocketPath()));
  EXPECT_EQ(Snxctl({"action"}).exit_code, 1);
}

// Clients that connect and send nothing take every place; the service drops them after a few
// seconds, and snxctl, refused meanwhile, tries again until it is served.
TEST_F(SnxsvcEndToEnd, StuckClientsDelaySnxctlOnlyBriefly) {
  auto service = StartService();
  const CtlRun first = SnxctlUntil(
      {"state"}, [](const CtlRun& r) { return r.exit_code == 0; }, std::chrono::seconds(30));
  ASSERT_EQ(first.exit_code, 0) << first.out << service->Output();
  std::vector<std::unique_ptr<platform::LineClient>> stuck;
  for (int i = 0; i < 20; ++i) {
    stuck.push_back(platform::MakeUnixLineClient());
    std::string error;
    ASSERT_TRUE(stuck.back()->Connect(platform::ControlSocketPath(), error)) << error;
  }
  // The last ones found every place taken.
  std::string answer;
  std::string error;
  ASSERT_TRUE(
      stuck.back()->Exchange("OpsCommand 1004", answer, 4096, std::chrono::seconds(10), error))
      << error;
  EXPECT_EQ(answer, platform::kBusyAnswer);
  const CtlRun state = Snxctl({"state"});
  EXPECT_EQ(state.exit_code, 0) << state.out;
  EXPECT_THAT(state.out, HasSubstr("999 OPS_READY"));
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
  for (const char* dll :
       {"QorPerf.dll", "QorPulse.dll", "SnxReport.dll", "QorVoiceAlert.dll", "QorAssure.dll"}) {
    fs::copy_file(BinFile(dll), install_.File(dll));
  }
  Child install({install_.File("snxsvc"), "-Service"}, true);
  ASSERT_EQ(install.Wait(std::chrono::seconds(20)), 0) << install.Output();
  install_.Write("Sentinex.ini", "MaxWait=30\n");
  ::chmod(install_.File("Sentinex.ini").c_str(), 0600);
  NotifySocket notify(root_.File("notify"));
  ScopedEnv socket_env("NOTIFY_SOCKET", root_.File("notify").c_str());
  ScopedEnv watchdog_env("WATCHDOG_USEC", "180000000");
  const auto ready = [](const CtlRun& r) { return r.exit_code == 0; };
  const auto in_go = [](const CtlRun& r) {
    return r.out.find("(Go loop running)") != std::string::npos;
  };

  auto service = StartService();
  ASSERT_EQ(SnxctlUntil({"state"}, ready, std::chrono::seconds(30)).exit_code, 0)
      << service->Output();
  EXPECT_TRUE(notify.Await("WATCHDOG=1", std::chrono::seconds(5)));  // idle
  EXPECT_EQ(Snxctl({"go"}).exit_code, 0);
  ASSERT_TRUE(in_go(SnxctlUntil({"state"}, in_go, std::chrono::seconds(40))));
  EXPECT_TRUE(notify.Await("WATCHDOG=1", std::chrono::seconds(5)));  // in Go

  ASSERT_EQ(::kill(service->pid(), SIGKILL), 0);
  service->Wait(std::chrono::seconds(10));
  service = StartService();  // as systemd's Restart= would
  const CtlRun resumed = SnxctlUntil({"state"}, in_go, std::chrono::seconds(40));
  EXPECT_TRUE(in_go(resumed)) << resumed.out << service->Output();
  EXPECT_THAT(resumed.out, HasSubstr("resumed GO mode by itself at start: GO mode was running "
                                     "when the service ended without a stop"));
  const int requests = site_.request_count();

  // The administrator's stop, then the system's stop: the next start stays idle.
  EXPECT_EQ(Snxctl({"stop"}).exit_code, 0);
  SnxctlUntil(
      {"state"},
      [](const CtlRun& r) { return r.out.find("1000 OPS_STOPPED") != std::string::npos; },
      std::chrono::seconds(10));
  ASSERT_EQ(::kill(service->pid(), SIGTERM), 0);
  EXPECT_EQ(service->Wait(std::chrono::seconds(20)), 0) << service->Output();
  service = StartService();
  ASSERT_EQ(SnxctlUntil({"state"}, ready, std::chrono::seconds(30)).exit_code, 0);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const CtlRun idle = Snxctl({"state"});
  EXPECT_THAT(idle.out, HasSubstr("999 OPS_READY")) << idle.out;
  EXPECT_THAT(idle.out, ::testing::Not(HasSubstr("resumed")));
  EXPECT_GE(requests, 1);
  const std::string log = install_.Read("SNXSVC.log");
  EXPECT_THAT(log, HasSubstr("AutoRun is off: an administrator stopped GO mode"));
  // "-Service" made the product's entry, so no start complains of a missing one.
  EXPECT_THAT(log, ::testing::Not(HasSubstr("LoadUninstallIconKey() failed")));
}

// snxctl conf while Go runs: the next cycle takes the change up, and the service's own save of
// the server state in the outage the new URL brings keeps both of the administrator's changes.
TEST_F(SnxsvcEndToEnd, ConfChangesWhileRunningAreTakenUpAndSurviveTheServiceSaves) {
  ScopedEnv short_minute("SNX_MINUTE_SECONDS", "1");
  auto service = StartService();
  const auto ready = [](const CtlRun& r) { return r.exit_code == 0; };
  ASSERT_EQ(SnxctlUntil({"state"}, ready, std::chrono::seconds(30)).exit_code, 0)
      << service->Output();
  ASSERT_EQ(Snxctl({"go"}).exit_code, 0);
  const auto waiting = [](const CtlRun& r) {
    return r.out.find("Go MODE: waiting for next test") != std::string::npos;
  };
  ASSERT_TRUE(waiting(SnxctlUntil({"action"}, waiting, std::chrono::seconds(30))));

  const std::string dead_url = "http://127.0.0.1:1/";  // refused at once: an outage
  const std::string dir = install_.path();
  EXPECT_EQ(Snxctl({"conf", "--dir", dir, "add", "URLS", dead_url}).exit_code, 0);
  EXPECT_EQ(Snxctl({"conf", "--dir", dir, "set", "EmailSubject", "Taken up"}).exit_code, 0);
  const CtlRun state = SnxctlUntil(
      {"conf", "--dir", dir, "get", "SvrStatus"},
      [](const CtlRun& r) { return r.out == "Restarting\n"; }, std::chrono::seconds(30));
  EXPECT_EQ(state.out, "Restarting\n");
  EXPECT_EQ(Snxctl({"conf", "--dir", dir, "get", "EmailSubject"}).out, "Taken up\n");
  EXPECT_EQ(Snxctl({"conf", "--dir", dir, "list", "URLS"}).out,
            site_.Url("/") + "\n" + dead_url + "\n");
  ASSERT_EQ(::kill(service->pid(), SIGTERM), 0);
  EXPECT_EQ(service->Wait(std::chrono::seconds(20)), 0) << service->Output();
  const std::string log = install_.Read("SNXSVC.log");
  EXPECT_THAT(log, HasSubstr("settings reloaded"));
  EXPECT_THAT(log, HasSubstr("Failed URL: " + dead_url));
}

// Without a service: usage, help and the message for a service that is not running.
TEST(SnxctlControl, HelpUsageAndNoService) {
  TempDir root;
  ScopedEnv root_env("SNX_ROOT", root.path().c_str());
  using Args = std::vector<std::string>;
  for (const char* command : {"go", "test", "stop", "state", "action", "status", "watch"}) {
    const CtlRun help = Snxctl({command, "--help"});
    EXPECT_EQ(help.exit_code, 0) << command;
    EXPECT_THAT(help.out, HasSubstr(std::string("usage: snxctl ") + command)) << command;
    EXPECT_EQ(Snxctl({command, "extra"}).exit_code, 2) << command;
    const CtlRun absent = Snxctl({command});
    EXPECT_EQ(absent.exit_code, 1) << command;
    EXPECT_THAT(absent.out,
                HasSubstr("snxctl " + std::string(command) + ": the service is not running"));
  }
  // Every other command has its help too.
  for (const char* command :
       {"activity", "components", "conf", "cycle", "ini", "mail-test", "notify-test", "phone-test",
        "probe", "procs", "pulse", "register", "report"}) {
    const CtlRun help = Snxctl({command, "--help"});
    EXPECT_EQ(help.exit_code, 0) << command;
    EXPECT_THAT(help.out, HasSubstr(std::string("usage: snxctl ") + command)) << command;
  }
  // A bad argument: its one line and a pointer to the command's --help, not the whole help.
  const struct {
    Args args;
    const char* line;
  } bad_arguments[] = {
      {{"phone"}, "snxctl phone: N must be 1, 2, 3 or 4"},
      {{"phone", "5"}, "snxctl phone: N must be 1, 2, 3 or 4"},
      {{"phone", "1", "2"}, "snxctl phone: N must be 1, 2, 3 or 4"},
      {{"watch", "--count", "0"}, "snxctl watch: bad argument '--count'"},
      {{"watch", "--count"}, "snxctl watch: bad argument '--count'"},
      {{"go", "now"}, "snxctl go: unexpected argument 'now'"},
      {{"conf", "frobnicate"}, "snxctl conf: unknown command 'frobnicate'"},
      {{"probe", "--retries", "3"}, "snxctl probe: unknown option '--retries'"},
      {{"probe"}, "snxctl probe: give a URL"},
      {{"procs", "a", "b"}, "snxctl procs: one PROGRAM only (quote a path with blanks)"},
      {{"activity", "--seconds", "0", "x"},
       "snxctl activity: --seconds needs a number from 1 to 86400"},
      {{"components", "x"}, "snxctl components: no arguments expected"},
      {{"register"}, "snxctl register: give one FILE"},
      {{"ini", "frobnicate"}, "snxctl ini: unknown command 'frobnicate'"},
      {{"mail-test", "--up", "--down"}, "snxctl mail-test: --up and --down exclude each other"},
      {{"phone-test", "--up", "--down"}, "snxctl phone-test: --down and --up exclude each other"},
      {{"notify-test", "--up", "--down"}, "snxctl notify-test: --up and --down exclude each other"},
      {{"pulse", "--max-age", "x"},
       "snxctl pulse: --max-age needs a number of seconds from 0 to 31622400"},
      // The window is checked whether or not the report companion is registered.
      {{"report", "--since", "3x"}, "snxctl report: since: not 24h, 7d, 30d"},
      {{"frobnicate"}, "snxctl: unknown command 'frobnicate'"},
  };
  for (const auto& c : bad_arguments) {
    const CtlRun run = Snxctl(c.args);
    EXPECT_EQ(run.exit_code, 2) << c.line;
    const std::string command = c.args[0] == "frobnicate" ? "snxctl" : "snxctl " + c.args[0];
    EXPECT_THAT(run.out, ::testing::StartsWith(c.line)) << run.out;
    EXPECT_THAT(run.out, ::testing::EndsWith("\nTry '" + command + " --help'.\n")) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
  }
  EXPECT_EQ(Snxctl({"phone", "2"}).exit_code, 1);
}

}  // namespace
}  // namespace snx::test

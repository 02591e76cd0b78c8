// snxctl with the built companions: register, components, unregister and activity; phone-test
// with the real voice alert plug-in and the recording dial command; pulse against HTTP servers on
// loopback; report on a log with known outages.

#include <ctime>
#include <nlohmann/json.hpp>

#include "integration/service_rig.h"
#include "platform/launcher.h"

namespace snx::test {
namespace {

// A state root of its own for the class keys.
class Companions : public ::testing::Test {
 protected:
  CtlRun Register(const std::string& file) { return Snxctl({"register", "--dir", bin_, file}); }
  TempDir root_;
  ScopedEnv env_{"SNX_ROOT", root_.path().c_str()};
  const std::string bin_ = fs::path(SnxctlPath()).parent_path().string();
};
using SnxctlComponentsTest = Companions;

TEST_F(SnxctlComponentsTest, RegisteredCompanionsLoadAndUnregisteredOnesLeaveNoKeys) {
  for (const char* file : {"QorPerf.dll", "QorPulse.dll", "SnxReport.dll"}) {
    EXPECT_TRUE(Ran(Register(file), 0)) << file;
  }
  const auto listed = Snxctl({"components", "--dir", bin_});
  EXPECT_TRUE(Ran(listed, 0));
  for (const char* prog_id : {"QorPerf.Watcher\n", "QorPulse.Pulse\n", "SnxReport.UtReport\n"}) {
    const auto at = listed.out.find(prog_id);
    ASSERT_NE(at, std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("loads and creates", at), std::string::npos) << prog_id;
  }
  for (const char* file : {"QorPerf.dll", "QorPulse.dll", "SnxReport.dll"}) {
    EXPECT_EQ(Snxctl({"unregister", "--dir", bin_, file}).exit_code, 0) << file;
  }
  const std::string keys = root_.Read("var/lib/snxsvc/HKEY_CLASSES_ROOT.reg");
  EXPECT_EQ(keys.find("Qor"), std::string::npos) << keys;
  EXPECT_EQ(keys.find("SnxReport"), std::string::npos) << keys;
  EXPECT_TRUE(Ran(Register("QorNothing.dll"), 1, {"cannot find file"}));
}

TEST_F(SnxctlComponentsTest, ActivitySeesABusyProcessWork) {
  ASSERT_TRUE(Ran(Register("QorPerf.dll"), 0));
  auto launcher = platform::NewPosixLauncher({});
  const std::string busy = CopyProgram(root_, "/bin/sh", UniqueStem("snxbusy"));
  const auto child =
      launcher->RunNoWait(busy + " -c \"while :; do echo x > /dev/null; sleep 0.05; done\"",
                          platform::LaunchWindow::kHidden);
  EXPECT_TRUE(Eventually([&] { return Snxctl({"procs", busy}).exit_code == 0; }));
  const auto working = Snxctl({"activity", "--seconds", "2", busy});
  KillChild(child.pid);
  EXPECT_TRUE(Ran(working, 0, {"verdict: working"}));
}

// An install folder with settings and the recording dial command.
class PhoneTestCommand : public Companions {
 protected:
  PhoneTestCommand() {
    CopyProgram(inst_, std::string(SNX_SOURCE_DIR) + "/examples/voice-dial.record", "voice-dial");
    Settings("PE1=1\nPE2=0\nPE4=T\n");
  }
  void Settings(const std::string& in_use) {
    inst_.Write("plain.txt",
                "[KEYS]\nPNum1=+41 44 111\nPName1=Ann\nPNum2=222\nPName2=Bob\n"
                "PNum4=sip:carl@example.org\nPName4=Carl\nPAck=0\n"
                "MsgDown=The shop is down.\nMsgUp=The shop is up.\n" +
                    in_use);
    ASSERT_TRUE(Ran(SnxctlIn("conf", inst_, {"import", inst_.File("plain.txt")}), 0));
  }
  CtlRun PhoneTest(const Args& args) { return SnxctlIn("phone-test", inst_, args); }
  std::vector<std::string> Calls() const { return FileLines(inst_, "voice-dial-calls.txt"); }

  TempDir inst_;
};

TEST_F(PhoneTestCommand, DownAlertCallsEveryNumberInUseOnce) {
  EXPECT_TRUE(Ran(PhoneTest({}), 1, {"snxctl register QorVoiceAlert.dll"}));
  EXPECT_TRUE(Calls().empty());

  ASSERT_EQ(Snxctl({"register", "QorVoiceAlert.dll"}).exit_code, 0);
  const std::string settings_before = inst_.Read("AutoSet.caf");
  const CtlRun run = PhoneTest({"--down"});
  EXPECT_TRUE(Ran(
      run, 0, {"delivered: yes", "call 2/2 to Carl at sip:carl@example.org [Server is down.]"}));
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(HasAll(calls[0], {"\t+41 44 111\tAnn\t0\t", "\tThe shop is down."}));
  EXPECT_THAT(calls[1], HasSubstr("\tsip:carl@example.org\tCarl\t0\t"));
  EXPECT_EQ(inst_.Read("AutoSet.caf"), settings_before) << "the settings file is only read";

  // A dial command that fails is reported, and the exit code says so.
  WriteScript(inst_, "voice-dial", "exit 7\n");
  EXPECT_TRUE(Ran(PhoneTest({"--up"}), 1, {"not delivered (exit 7)", "delivered: no"}));

  // One that everyone may change is never run.
  WriteScript(inst_, "voice-dial", "echo ran > \"$(dirname \"$0\")/ran.txt\"\n");
  ::chmod(inst_.File("voice-dial").c_str(), 0777);
  EXPECT_TRUE(Ran(PhoneTest({}), 1,
                  {"not ready: " + inst_.File("voice-dial") +
                   " is writable by everyone (mode 0777): it is not run"}));
  EXPECT_FALSE(fs::exists(inst_.File("ran.txt")));

  Settings("PE1=0\n");  // no number in use
  EXPECT_TRUE(Ran(PhoneTest({}), 1, {"phone alerts are not set up"}));
  EXPECT_EQ(Calls().size(), 2u);
}

// The watchdog's heartbeat line for the local time `ago` seconds back.
std::string BeatLine(std::time_t ago) {
  const std::time_t t = std::time(nullptr) - ago;
  std::tm parts{};
  localtime_r(&t, &parts);
  char line[64];
  std::strftime(line, sizeof line, "%m/%d/%y %H:%M:%S System working.\r\n", &parts);
  return line;
}

class SnxctlPulseTest : public Companions {
 protected:
  void SetUp() override { ASSERT_TRUE(Ran(Register("QorPulse.dll"), 0)); }
  CtlRun Pulse(const Args& args) { return SnxctlIn("pulse", dir_, args); }

  TempDir dir_;
  LoopbackHttpServer ok_{[](const std::string&) { return LoopbackHttpServer::Answer(200); }};
  LoopbackHttpServer fail_{[](const std::string&) { return LoopbackHttpServer::Answer(200); }};
};

TEST_F(SnxctlPulseTest, AFreshHeartbeatPushesAndAStaleOneTellsTheFailUrl) {
  dir_.Write("Beat.txt", BeatLine(3600) + BeatLine(5));
  EXPECT_TRUE(Ran(Pulse({"--url", ok_.Url("/push"), "--fail-url", fail_.Url("/fail")}), 0,
                  {"answered 200"}));
  EXPECT_EQ(ok_.request_count(), 1);
  EXPECT_EQ(fail_.request_count(), 0);

  // Stale (the reasons are the heartbeat's own tests' business): the fail URL is told.
  dir_.Write("Beat.txt", BeatLine(3600));
  EXPECT_TRUE(
      Ran(Pulse({"--max-age", "600", "--url", ok_.Url("/push"), "--fail-url", fail_.Url("/fail")}),
          1, {"heartbeat stale: "}));
  EXPECT_EQ(ok_.request_count(), 1);
  EXPECT_EQ(fail_.request_count(), 1);
  EXPECT_TRUE(Ran(Pulse({"--max-age", "600", "--url", ok_.Url("/push")}), 1, {"nothing pushed"}));
  EXPECT_EQ(ok_.request_count(), 1);
}

TEST_F(SnxctlPulseTest, CredentialsAndFragmentsStayHomeAndOneRedirectIsFollowed) {
  LoopbackHttpServer mover([this](const std::string&) {
    return LoopbackHttpServer::Answer(302, {"Location: " + ok_.Url("/moved?k=2#x")});
  });
  dir_.Write("Beat.txt", BeatLine(0));
  // Line ends and blanks in the query must not open a header line of their own.
  std::string url = mover.Url("/push?k=1 HTTP/1.0\r\nX-Smuggled: 1#frag");
  url.insert(7, "user:secret@");
  const auto run = Pulse({"--url", url});
  EXPECT_TRUE(Ran(run, 0));
  EXPECT_EQ(run.out.find("secret"), std::string::npos) << run.out;
  ASSERT_EQ(mover.request_count(), 1);
  ASSERT_EQ(ok_.request_count(), 1);
  EXPECT_EQ(
      mover.requests()[0].rfind("GET /push?k=1%20HTTP/1.0%0D%0AX-Smuggled:%201 HTTP/1.1\r\n", 0),
      0u)
      << mover.requests()[0];
  EXPECT_EQ(ok_.requests()[0].rfind("GET /moved?k=2 HTTP/1.1\r\n", 0), 0u) << ok_.requests()[0];
  for (const auto& head : {mover.requests()[0], ok_.requests()[0]}) {
    EXPECT_EQ(head.find("Authorization"), std::string::npos) << head;
    EXPECT_EQ(head.find("secret"), std::string::npos) << head;
    EXPECT_EQ(head.find("\nX-Smuggled"), std::string::npos) << head;
  }
}

TEST_F(SnxctlPulseTest, APushThatIsNeverAnsweredFailsWithinItsBound) {
  LoopbackHttpServer silent([](const std::string&) { return std::string(); });
  dir_.Write("Beat.txt", BeatLine(0));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Ran(Pulse({"--url", silent.Url("/push")}), 1, {"push failed: "}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(SnxctlPulseTest, TheUrlsComeFromTheSettingsAndWithoutOneNothingRuns) {
  EXPECT_TRUE(Ran(Pulse({}), 2, {"no push URL configured"}));
  dir_.Write("Beat.txt", BeatLine(0));
  ASSERT_TRUE(Ran(SnxctlIn("conf", dir_, {"set", "PulseUrl", ok_.Url("/from-settings")}), 0));
  EXPECT_TRUE(Ran(Pulse({}), 0));
  ASSERT_EQ(ok_.request_count(), 1);
  EXPECT_EQ(ok_.requests()[0].rfind("GET /from-settings ", 0), 0u);
}

// One day of a local URL down 10:00:00-10:14:24 and 20:00:00-20:00:30 (98.96 %), a remote URL
// that is up all day, one restart, and a line the watchdog never writes.
constexpr const char* kLog =
    "01/10/25 00:00:00 Message: /////////// ItemManager Started ///////////\r\r\n"
    "01/10/25 00:00:00 (event): 101, http://web/, UP\r\r\n"
    "01/10/25 00:00:00 (event): 102, https://far.example/, UP\r\r\n"
    "01/10/25 10:00:00 (event): 101, http://web/, DN\r\r\n"
    "01/10/25 10:05:00 (event): 103, Restart, UP\r\r\n"
    "01/10/25 10:14:24 (event): 101, http://web/, UP\r\r\n"
    "01/10/25 20:00:00 (event): 101, http://web/, DN\r\r\n"
    "01/10/25 20:00:30 (event): 101, http://web/, UP\r\r\n"
    "not a line of the log\r\r\n";

// The figures themselves are the report companion's own tests' business: here, that snxctl
// loads it, writes what it makes, and says what to do without it.
class SnxctlReportTest : public Companions {
 protected:
  void SetUp() override {
    logs_.Write("Uptime.log", kLog);
    ASSERT_TRUE(Ran(Register("SnxReport.dll"), 0));
  }
  CtlRun Report(const Args& more) {
    return SnxctlIn("report", logs_,
                    Concat(Args{"--since", "01/10/25", "--until", "2025-01-11"}, more));
  }

  TempDir logs_;
  ScopedEnv tz_{"TZ", "UTC"};
};

TEST_F(SnxctlReportTest, TableJsonAndWithoutTheCompanion) {
  ASSERT_TRUE(Ran(Report({}), 0, {"7 reports, 1 line skipped"}));
  const auto json = Report({"--json"});
  ASSERT_TRUE(Ran(json, 0));
  EXPECT_TRUE(nlohmann::json::parse(json.out, nullptr, false).is_object()) << json.out;
  // No log: a failure; no companion: a failure that says what to do.
  EXPECT_EQ(Snxctl({"report", "--dir", root_.path()}).exit_code, 1);
  ASSERT_EQ(Snxctl({"unregister", "--dir", bin_, "SnxReport.dll"}).exit_code, 0);
  EXPECT_TRUE(Ran(Report({}), 1, {"snxctl register SnxReport.dll"}));
}

TEST_F(SnxctlReportTest, PageHasATimelinePerItemAndMetricsPassPromtool) {
  const std::string page = logs_.File("report.html");
  ASSERT_TRUE(Ran(Report({"--html", page}), 0));
  EXPECT_THAT(logs_.Read("report.html"), HasSubstr("98.96 %"));
  // A page that cannot be written fails and leaves nothing behind.
  EXPECT_EQ(Report({"--html", logs_.File("no/such/folder/r.html")}).exit_code, 1);
  EXPECT_FALSE(fs::exists(logs_.File("no")));

  const auto metrics = Report({"--metrics"});
  ASSERT_TRUE(Ran(metrics, 0, {"snxsvc_item_up{type=\"local_url\",name=\"http://web/\"} 1\n"}));
  logs_.Write("metrics.prom", metrics.out);
  EXPECT_EQ(PromtoolComplaint(logs_.File("metrics.prom")).value_or(""), "");
}

}  // namespace
}  // namespace snx::test

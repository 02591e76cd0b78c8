// The service module: its switches, the class keys and the unit it writes, the three ways it
// runs, the stop control, and the event text bound.

#include "service/service_module.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>

#include "platform/fake/capturing_message_sink.h"
#include "platform/fake/fake_key_store.h"
#include "platform/fake/fake_service_manager.h"
#include "service/command_session.h"
#include "service/service_ids.h"
#include "service/service_switch.h"
#include "service/unit_file.h"
#include "support/test_support.h"
#include "text/control_protocol.h"

namespace snx::test {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
namespace sp = snx::platform;

// A command object that records the codes it is sent.
class RecordingObject : public ISNXSVR {
 public:
  explicit RecordingObject(std::vector<std::int32_t>& codes, std::atomic<int>& live)
      : codes_(codes), live_(live) {
    ++live_;
  }
  ~RecordingObject() override {
    codes_.push_back(-99);  // the teardown
    --live_;
  }
  sp::HRESULT OpsCommand(const sp::VARIANT* command, std::int32_t* result) override {
    codes_.push_back(command->IntValue());
    *result = command->IntValue() == 1004 ? 1001 : -1;
    return sp::S_OK;
  }
  sp::HRESULT GetStringResult(const std::int32_t* code, sp::VARIANT* result) override {
    if (*code == 1012) *result = sp::Variant::Text("GO MODE: local URLs");
    if (*code == 1013) *result = sp::Variant::Text("http://127.0.0.1/");
    return sp::S_OK;
  }

 private:
  std::vector<std::int32_t>& codes_;
  std::atomic<int>& live_;
};

TEST(ServiceSwitch, AnyCaseAfterDashOrSlashFirstMatchDecides) {
  struct Case {
    const char* line;
    snxsvc::ServiceSwitch want;
  };
  using S = snxsvc::ServiceSwitch;
  for (const Case& c :
       {Case{"/regserver", S::kRegServer}, Case{"-UNREGSERVER", S::kUnregServer},
        Case{"/Service", S::kService}, Case{"-foreground", S::kForeground}, Case{"", S::kNone},
        Case{"Service", S::kNone}, Case{"-Service now", S::kNone},
        Case{"x /y -Service", S::kService}, Case{"-RegServerX", S::kNone}}) {
    EXPECT_EQ(snxsvc::ParseServiceSwitch(c.line), c.want) << c.line;
  }
  const char* argv[] = {"snxsvc", "a", "-Service"};
  EXPECT_EQ(snxsvc::JoinArguments(3, argv), "a -Service");
}

TEST(ServiceText, EventTextsAreCutOnACharacterBoundary) {
  struct Case {
    std::string text;
    std::size_t limit;
    std::string want;
  };
  const std::string euro = "\xe2\x82\xac";       // 3 bytes
  const std::string emoji = "\xf0\x9f\x98\x80";  // 4 bytes
  for (const Case& c :
       {Case{"abcdef", 4, "abcd"}, Case{"ab" + euro, 4, "ab"}, Case{"a" + emoji, 4, "a"},
        Case{"a" + emoji + "b", 5, "a" + emoji}, Case{"ab", 4, "ab"},
        Case{"\x80\x80\x80\x80\x80\x80", 4, "\x80\x80\x80\x80"}}) {
    std::string text = c.text;
    CutToCharacter(text, c.limit);
    EXPECT_EQ(text, c.want);
  }
}

class ServiceModuleTest : public ::testing::Test {
 protected:
  ServiceModuleTest() : root_env_("SNX_ROOT", root_.path().c_str()) {}

  std::unique_ptr<CServiceModule> Module() {
    auto module = std::make_unique<CServiceModule>(
        keys_, manager_, "/opt/snx/snxsvc", root_.path(), [this]() -> std::unique_ptr<ISNXSVR> {
          return std::make_unique<RecordingObject>(codes_, live_);
        });
    module->Init();
    return module;
  }
  std::string Value(const std::string& path, const char* name = "") {
    sp::HKEY key = nullptr;
    if (keys_.OpenKey(sp::HKEY_CLASSES_ROOT, path, key) != sp::RegResult::kOk) return "<no key>";
    sp::RegValue value;
    const bool found = keys_.QueryValue(key, name, value) == sp::RegResult::kOk;
    keys_.CloseKey(key);
    return found ? value.text : "<no value>";
  }
  std::string AppIdKey() const { return "AppID\\" + std::string(snxsvc::APPID_SNXSVC); }
  std::string ClassKey() const { return "CLSID\\" + std::string(snxsvc::CLSID_SNXSVR); }
  std::string Unit() const { return snxsvc::UnitFilePath(root_.path()); }

  // Runs the module on a thread of its own, as main() would.
  void RunInBackground(CServiceModule& module, std::string_view line) {
    runner_ = std::thread([&module, line = std::string(line), this] { exit_ = module.Main(line); });
  }
  std::string Ask(sp::LineClient& client, const sp::ControlRequest& request) {
    std::string answer, error;
    EXPECT_TRUE(client.Exchange(sp::FormatControlRequest(request), answer, 4096, 20s, error))
        << error;
    return answer;
  }
  std::unique_ptr<sp::LineClient> Client() {
    std::unique_ptr<sp::LineClient> client;
    std::string error;
    EXPECT_TRUE(Eventually([&] {
      client = sp::MakeUnixLineClient();
      return client->Connect(sp::ControlSocketPath(), error);
    })) << "no socket: "
        << error;
    return client;
  }
  void Join() {
    if (runner_.joinable()) runner_.join();
  }

  TempDir root_;
  ScopedEnv root_env_;
  sp::FakeKeyStore keys_;
  sp::FakeServiceManager manager_;
  sp::CapturingMessageSink boxes_;
  sp::ScopedInstall<sp::MessageSink> install_boxes_{boxes_};
  std::vector<std::int32_t> codes_;
  std::atomic<int> live_{0};
  std::thread runner_;
  std::atomic<int> exit_{-1};
};

TEST_F(ServiceModuleTest, ServiceRegistersWithTheUnitRegServerRemovesItUnregServerCleansUp) {
  auto module = Module();
  // Not registered: the registry's "not found" as the exit code, nothing run.
  EXPECT_EQ(module->Main(""), 2);
  EXPECT_EQ(module->Main("/Service"), 0);
  EXPECT_EQ(Value(AppIdKey(), "LocalService"), "SNXSVC");
  EXPECT_EQ(Value(AppIdKey(), "ServiceParameters"), "-Service");
  EXPECT_EQ(Value(ClassKey() + "\\LocalServer32"), "/opt/snx/snxsvc");
  ASSERT_TRUE(module->IsInstalled());
  // A hung loop restarts: the watchdog, and a restart on failure.
  EXPECT_TRUE(
      HasAll(root_.Read("etc/systemd/system/snxsvc.service"),
             {"Type=notify\n", "ExecStart=/opt/snx/snxsvc\n", "WorkingDirectory=/opt/snx/\n",
              "Environment=SNX_ROOT=" + root_.path() + "\n", "KillMode=process\n",
              "Environment=GNUTLS_NO_IMPLICIT_INIT=1\n", "WatchdogSec=180\nRestart=on-failure\n"}));
  EXPECT_EQ(manager_.reloads, 0);  // a test root is not systemd's

  EXPECT_EQ(module->Main("-regserver"), 0);
  EXPECT_FALSE(module->IsInstalled());
  EXPECT_EQ(Value(AppIdKey(), "LocalService"), "<no value>");
  EXPECT_EQ(Value(ClassKey() + "\\LocalServer32"), "/opt/snx/snxsvc");

  EXPECT_EQ(module->Main("-UnregServer"), 0);
  EXPECT_EQ(Value(ClassKey()), "<no key>");
  EXPECT_EQ(Value("SNXSVC.SNXSVR"), "<no key>");
  EXPECT_EQ(Value("AppID\\SNXSVC.EXE", "AppID"), "<no key>");
  EXPECT_EQ(Value(AppIdKey()), "<no value>");  // the AppID key itself stays
  EXPECT_EQ(live_, 0);
}

TEST_F(ServiceModuleTest, UnderSystemdTheUnitIsReloadedAndTheOldServiceStoppedFirst) {
  manager_.manages_root = true;
  auto module = Module();
  ASSERT_EQ(module->Main("-Service"), 0);
  EXPECT_EQ(manager_.reloads, 1);
  ASSERT_EQ(module->Main("-Service"), 0);
  EXPECT_EQ(manager_.stopped_units, std::vector<std::string>{"snxsvc.service"});
  EXPECT_EQ(manager_.reloads, 3);  // removed, written again
  // A unit that cannot be written fails the registration (and says so).
  ASSERT_EQ(module->Main("-RegServer"), 0);
  std::filesystem::remove_all(root_.path() + "/etc/systemd/system");
  root_.Write("etc/systemd/system", "not a folder");
  EXPECT_NE(module->Main("-Service"), 0);
  EXPECT_TRUE(boxes_.HasText("Couldn't create service"));
}

TEST_F(ServiceModuleTest, AsAServiceItHoldsTheObjectAndStopsItBeforeTheTeardown) {
  manager_.started_by_manager = true;
  auto module = Module();
  ASSERT_EQ(module->Main("-Service"), 0);
  RunInBackground(*module, "");
  auto client = Client();
  EXPECT_EQ(Ask(*client, {sp::ControlMethod::kOpsCommand, 1004}), "OK 1001");
  EXPECT_EQ(Ask(*client, {sp::ControlMethod::kGetStringResult, 1012}), "TEXT GO MODE: local URLs");
  EXPECT_EQ(Ask(*client, {sp::ControlMethod::kGetStringResult, 7}), "NONE");
  std::string answer, error;
  ASSERT_TRUE(client->Exchange("Bogus 1", answer, 4096, 5s, error));
  EXPECT_EQ(answer, "ERR unknown method");
  // The system's own stop (it leaves AutoRun on) is not a client's to send.
  EXPECT_EQ(Ask(*client, {sp::ControlMethod::kOpsCommand, 1099}), "ERR unknown command code");
  EXPECT_EQ(Ask(*client, {sp::ControlMethod::kOpsCommand, 1000}), "OK -1");
  client.reset();
  std::this_thread::sleep_for(1500ms);  // time for the close to be handled
  EXPECT_EQ(live_, 1);                  // the service's own reference keeps it
  EXPECT_TRUE(Eventually([&] {          // a status round
    const auto notes = manager_.Notifications();
    return std::ranges::count(notes, "STATUS=GO MODE: local URLs http://127.0.0.1/") > 0;
  }));
  manager_.RaiseStop();
  Join();
  EXPECT_EQ(exit_, 0);
  EXPECT_EQ(live_, 0);
  // The system's stop (not an administrator's 1003) went to the object before its teardown.
  ASSERT_GE(codes_.size(), 2u);
  EXPECT_EQ(codes_[codes_.size() - 2], 1099);
  EXPECT_EQ(codes_.back(), -99);
  EXPECT_THAT(manager_.Notifications(), ::testing::IsSupersetOf({"READY=1", "STOPPING=1"}));
  EXPECT_THAT(manager_.Events(), ::testing::ElementsAre("Service started", "Service stopped"));
  EXPECT_FALSE(std::filesystem::exists(sp::ControlSocketPath()));
}

TEST_F(ServiceModuleTest, AsALocalServerTheObjectLivesFromTheFirstConnectionToTheLastClose) {
  auto module = Module();
  ASSERT_EQ(module->Main("-RegServer"), 0);
  RunInBackground(*module, "");  // registered, not as a service: the local server
  EXPECT_EQ(live_, 0);           // nothing before the first connection
  auto first = Client();
  EXPECT_EQ(Ask(*first, {sp::ControlMethod::kOpsCommand, 1004}), "OK 1001");
  auto second = Client();
  EXPECT_EQ(Ask(*second, {sp::ControlMethod::kOpsCommand, 1005}), "OK -1");
  EXPECT_EQ(live_, 1);
  first.reset();
  second.reset();
  Join();  // the last close ends the process
  EXPECT_EQ(live_, 0);
  EXPECT_TRUE(manager_.Notifications().empty());
  EXPECT_TRUE(manager_.Events().empty());  // a local server prints its events
}

TEST_F(ServiceModuleTest, ForegroundRunsAsTheServiceWithoutSystemdAndUnknownControlsAreLogged) {
  auto module = Module();
  RunInBackground(*module, "-Foreground");
  auto client = Client();
  EXPECT_EQ(Ask(*client, {sp::ControlMethod::kOpsCommand, 1004}), "OK 1001");
  EXPECT_EQ(live_, 1);
  module->Handler(CServiceModule::SERVICE_CONTROL_INTERROGATE);
  module->Handler(CServiceModule::SERVICE_CONTROL_PAUSE);
  EXPECT_EQ(module->State(), CServiceModule::SERVICE_START_PENDING);
  module->Handler(CServiceModule::SERVICE_CONTROL_STOP);  // with a client still connected
  Join();
  EXPECT_EQ(live_, 0);
  EXPECT_EQ(module->State(), CServiceModule::SERVICE_STOPPED);
  EXPECT_TRUE(manager_.Notifications().empty());
}

TEST_F(ServiceModuleTest, AServiceEventIsOneBoundedLine) {
  manager_.started_by_manager = true;
  auto module = Module();
  module->SetMode(CServiceModule::RunMode::kService);
  const std::string long_text = std::string(254, 'a') + "\xe2\x82\xac" + "tail\nnext";
  module->LogSystemEvent("%s", long_text.c_str());
  module->LogSystemEvent("Bad %s", "line\nbreak");
  const auto events = manager_.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], std::string(254, 'a'));
  EXPECT_EQ(events[1], "Bad line\\nbreak");
}

}  // namespace
}  // namespace snx::test

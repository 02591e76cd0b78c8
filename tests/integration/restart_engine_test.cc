// The restart engine with the real pieces: the watcher companion QorPerf.dll registered and
// created through the plug-in factory, a real child started and killed by the engine's steps
// through the real launcher, and the process activity watcher handing its counters on.

#include "components/component_factory.h"
#include "components/watcher_interface.h"
#include "integration/service_rig.h"
#include "platform/clock.h"
#include "platform/fake/fake_power.h"
#include "platform/key_store.h"
#include "platform/launcher.h"
#include "probes/item_manager.h"
#include "probes/w_manager.h"
#include "recovery/mender.h"
#include "recovery/mender_fixture.h"

namespace snx::test {
namespace {

using namespace snx::platform;

// The engine over the real key store, plug-in factory and launcher (whose install folder is
// `launch_folder`), the recording power facility and the rig's restart program.
struct RealEngine {
  explicit RealEngine(const std::string& launch_folder)
      : factory(NewPluginComponentFactory(Use<KeyStore>())),
        launcher(NewPosixLauncher({.install_folder = launch_folder, .components = factory.get()})) {
    engine.SetSettings(&settings);
    engine.SetKeepGoingFlag(&go);
  }
  std::unique_ptr<ComponentFactory> factory;
  std::unique_ptr<Launcher> launcher;
  FakePower power;
  CMender engine{Use<Clock>(), *launcher, power, Use<KeyStore>(), *factory};
  CAllSets settings;
  const std::atomic<bool> go{true};
};

bool Alive(int pid) {
  // A zombie counts as gone: its program ended.
  const std::string line = Text("/proc/" + std::to_string(pid) + "/stat");
  const auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

TEST(RestartEngineIntegration, WatchesAndKillsARealChildThroughTheRealWatcher) {
  ASSERT_TRUE(fs::exists(BinFile(kWatcherFile)));
  CapturingLog log;
  ServiceRig rig;
  const std::string program = CopyProgram(rig.install, "/bin/sleep", "snxwatched");
  rig.RestartProgram("Begin=RESTARTER\nStart=" + program + " 120\nWait=1\nEnd=\n");
  RealEngine real(fs::path(BinFile(kWatcherFile)).parent_path().string() + "/");
  CMender& engine = real.engine;
  FakeOwner owner;
  engine.RunHidden("Regsvr32 /s QorPerf.dll", true);  // the built-in registration
  ASSERT_TRUE(engine.Initialize(rig.Folder(), &owner)) << ::testing::PrintToString(log.Errors());
  ASSERT_NE(engine.Watcher(), nullptr);

  ASSERT_TRUE(engine.RunRestarterOperations());  // starts the child for real
  CRamFileRO image;
  ASSERT_TRUE(
      image.InitializeWithLines(rig.Folder(), "AutoSet.caf", {"[KEYS]", "[STOPS]", program}));
  CItemManager items;
  items.SetFolder(rig.Folder());
  ASSERT_TRUE(items.ReInitialize());
  items.AddItem(ITEM_PROGRAM, program);
  CWManager watcher;
  watcher.SetItemManager(&items);
  ASSERT_TRUE(watcher.Initialize(&image, &engine, "TESTHOST"));
  const int pid = watcher.GetPidOfProgram(program);
  ASSERT_GT(pid, 1);
  struct Reap {
    int pid;
    ~Reap() { KillChild(pid); }
  } reap{pid};

  ASSERT_TRUE(watcher.LWN()) << watcher.FailureText().ToString();
  EXPECT_EQ(watcher.ProcessesWatched(), 1);
  EXPECT_TRUE(engine.WatcherArmed());
  engine.SetSensitivity(5);
  EXPECT_TRUE(engine.XTst());

  engine.RunHidden("KILL /f  snxwatched", true);  // what a "Stop=snxwatched" step runs
  // Gone once the launcher's reaper has collected it (it looks every 500 ms).
  ProcessGone(pid, std::chrono::seconds(3));
  ASSERT_FALSE(Alive(pid));
  EXPECT_FALSE(engine.XTst());
}

// On a stock Linux machine: no iisreset and no browser. The reset runs the administrator's
// WebResetCommand (split without a shell) or, without one, quietly nothing; a Start of a URL
// fetches it and says so.
TEST(RestartEngineIntegration, WebResetCommandAndAUrlStartWithoutABrowser) {
  CapturingLog log;
  ServiceRig rig;
  rig.ResetStub("reset");
  LoopbackHttpServer site(
      [](const std::string&) { return LoopbackHttpServer::Answer(200, {}, "ok"); });
  rig.RestartProgram("Begin=RESTARTER\nStart=" + site.Url("/warm") + "\nEnd=\n");
  RealEngine real(rig.Folder());  // no iisreset here, none on PATH
  CMender& engine = real.engine;

  engine.ResetWebServer("IISRESET.exe", true);
  EXPECT_TRUE(log.Errors().empty()) << ::testing::PrintToString(log.Errors());
  EXPECT_FALSE(fs::exists(rig.install.File("resets.txt")));

  real.settings.m_sWebResetCommand.Assign(rig.install.File("reset") + " nginx");
  engine.ResetWebServer("IISRESET.exe", true);
  EXPECT_EQ(rig.install.Read("resets.txt"), "ran nginx\n");

  ASSERT_TRUE(engine.LoadProgram(rig.Folder()));
  EXPECT_TRUE(engine.RunRestarterOperations());
  ASSERT_EQ(site.request_count(), 1);
  EXPECT_THAT(site.requests()[0], ::testing::StartsWith("GET /warm "));
  EXPECT_THAT(::testing::PrintToString(log.Messages()), HasSubstr("No browser at"));
}

}  // namespace
}  // namespace snx::test

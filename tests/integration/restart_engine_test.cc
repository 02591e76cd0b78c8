// The restart engine with the real pieces: the watcher companion QorPerf.dll registered and
// created through the plug-in factory, a real child started and killed by the engine's steps
// through the real launcher, and the process activity watcher handing its counters on.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "components/component_factory.h"
#include "components/watcher_interface.h"
#include "files/all_sets.h"
#include "files/ram_file_ro.h"
#include "platform/clock.h"
#include "platform/fake/fake_power.h"
#include "platform/key_store.h"
#include "platform/launcher.h"
#include "probes/item_manager.h"
#include "probes/w_manager.h"
#include "recovery/mender.h"
#include "recovery/mender_fixture.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

namespace {

using namespace snx::platform;
using snx::test::TempDir;

std::string BinFolder() {
  const char* dir = std::getenv("SNX_TEST_BIN_DIR");
  if (dir != nullptr && *dir != '\0') return std::string(dir) + "/bin/";
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path().string() +
         "/bin/";
}

bool Alive(int pid) {
  // A zombie counts as gone: its program ended.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

TEST(RestartEngineIntegration, WatchesAndKillsARealChildThroughTheRealWatcher) {
  const std::string bin = BinFolder();
  ASSERT_TRUE(std::filesystem::exists(bin + kWatcherFile)) << bin;
  snx::test::CapturingLog log;
  TempDir root;
  snx::test::ScopedEnv env("SNX_ROOT", root.path().c_str());
  TempDir install;
  const std::string folder = install.path() + "/";
  const std::string program = folder + "snxwatched";
  std::filesystem::copy_file("/bin/sleep", program);
  ::chmod(program.c_str(), 0755);
  install.Write("Sentinex.ini", "Begin=RESTARTER\nStart=" + program + " 120\nWait=1\nEnd=\n");
  ::chmod(install.File("Sentinex.ini").c_str(), 0600);

  KeyStore& keys = Use<KeyStore>();
  std::unique_ptr<ComponentFactory> factory = NewPluginComponentFactory(keys);
  LauncherContext context;
  context.install_folder = bin;
  context.components = factory.get();
  std::unique_ptr<Launcher> launcher = NewPosixLauncher(context);
  FakePower power;
  CMender engine(Use<Clock>(), *launcher, power, keys, *factory);
  CAllSets settings;
  snx::test::FakeOwner owner;
  const std::atomic<bool> go{true};
  engine.SetSettings(&settings);
  engine.SetKeepGoingFlag(&go);

  engine.RunHidden("Regsvr32 /s QorPerf.dll", true);  // the built-in registration
  ASSERT_TRUE(engine.Initialize(folder, &owner)) << ::testing::PrintToString(log.Errors());
  ASSERT_NE(engine.Watcher(), nullptr);

  ASSERT_TRUE(engine.RunRestarterOperations());  // starts the child for real
  CRamFileRO image;
  ASSERT_TRUE(image.InitializeWithLines(folder, "AutoSet.caf", {"[KEYS]", "[STOPS]", program}));
  CItemManager items;
  items.SetFolder(folder);
  ASSERT_TRUE(items.ReInitialize());
  items.AddItem(ITEM_PROGRAM, program);
  CWManager watcher;
  watcher.SetItemManager(&items);
  ASSERT_TRUE(watcher.Initialize(&image, &engine, "TESTHOST"));
  const int pid = watcher.GetPidOfProgram(program);
  ASSERT_GT(pid, 1);
  struct Reap {
    int pid;
    ~Reap() { ::kill(pid, SIGKILL); }
  } reap{pid};

  ASSERT_TRUE(watcher.LWN()) << watcher.FailureText().ToString();
  EXPECT_EQ(watcher.ProcessesWatched(), 1);
  EXPECT_TRUE(engine.WatcherArmed());
  engine.SetSensitivity(5);
  EXPECT_TRUE(engine.XTst());

  // A [STOPS] entry with no process gives "KILL /f 0": nothing of ours may die of it.
  engine.RunHidden("KILL /f 0", true);
  EXPECT_TRUE(Alive(pid));

  engine.RunHidden("KILL /f  snxwatched", true);  // what a "Stop=snxwatched" step runs
  // Gone once the launcher's reaper has collected it (it looks every 500 ms).
  const std::string proc = "/proc/" + std::to_string(pid);
  for (int i = 0; i < 150 && std::filesystem::exists(proc); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(Alive(pid));
  EXPECT_FALSE(engine.XTst());
}

// On a stock Linux machine: no iisreset and no browser. The reset runs the administrator's
// WebResetCommand (split without a shell) or, without one, quietly nothing; a Start of a URL
// fetches it and says so.
TEST(RestartEngineIntegration, WebResetCommandAndAUrlStartWithoutABrowser) {
  snx::test::CapturingLog log;
  TempDir root;
  snx::test::ScopedEnv env("SNX_ROOT", root.path().c_str());
  TempDir install;
  const std::string folder = install.path() + "/";
  install.Write("reset", "#!/bin/sh\necho \"ran $1\" >> \"$(dirname \"$0\")/resets.txt\"\n");
  ::chmod(install.File("reset").c_str(), 0755);
  snx::test::LoopbackHttpServer site(
      [](const std::string&) { return snx::test::LoopbackHttpServer::Answer(200, {}, "ok"); });
  install.Write("Sentinex.ini", "Begin=RESTARTER\nStart=" + site.Url("/warm") + "\nEnd=\n");
  ::chmod(install.File("Sentinex.ini").c_str(), 0600);

  KeyStore& keys = Use<KeyStore>();
  std::unique_ptr<ComponentFactory> factory = NewPluginComponentFactory(keys);
  LauncherContext context;
  context.install_folder = folder;  // no iisreset here, none on PATH
  context.components = factory.get();
  std::unique_ptr<Launcher> launcher = NewPosixLauncher(context);
  FakePower power;
  CMender engine(Use<Clock>(), *launcher, power, keys, *factory);
  CAllSets settings;
  engine.SetSettings(&settings);

  engine.ResetWebServer("IISRESET.exe", true);
  EXPECT_TRUE(log.Errors().empty()) << ::testing::PrintToString(log.Errors());
  EXPECT_FALSE(std::filesystem::exists(install.File("resets.txt")));

  settings.m_sWebResetCommand.Assign(install.File("reset") + " nginx");
  engine.ResetWebServer("IISRESET.exe", true);
  EXPECT_EQ(install.Read("resets.txt"), "ran nginx\n");

  const std::atomic<bool> go{true};
  engine.SetKeepGoingFlag(&go);
  ASSERT_TRUE(engine.LoadProgram(folder));
  EXPECT_TRUE(engine.RunRestarterOperations());
  ASSERT_EQ(site.request_count(), 1);
  EXPECT_THAT(site.requests()[0], ::testing::StartsWith("GET /warm "));
  EXPECT_THAT(::testing::PrintToString(log.Messages()), ::testing::HasSubstr("No browser at"));
}

}  // namespace

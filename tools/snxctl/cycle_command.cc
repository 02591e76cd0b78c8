// snxctl cycle: one cycle's tests as Go mode runs them, with the real settings, and the
// decision the cycle would take. It sends no alert, restarts nothing and changes no state:
// the settings file, the uptime record and the key store are left as they are.

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "components/watcher_interface.h"
#include "files/all_sets.h"
#include "files/ram_file_ro.h"
#include "ops/cycle_decision.h"
#include "ops/url_outcome.h"
#include "platform/file_system.h"
#include "platform/visible_text.h"
#include "probes/item_manager.h"
#include "probes/w_manager.h"
#include "recovery/mender.h"
#include "recovery/mender_owner.h"
#include "service/service_wiring.h"
#include "snxctl/install_folder.h"
#include "snxctl/kept_log.h"
#include "snxctl/settings_access.h"
#include "snxctl/subcommand.h"

namespace snxctl {
namespace {

constexpr const char* kUsage =
    "usage: snxctl cycle [--dir FOLDER] [--restarts N]\n"
    "\n"
    "Runs one test cycle of Go mode with the settings of FOLDER (by default the folder of\n"
    "snxctl itself, the install folder) and prints each test, its result and the decision\n"
    "the cycle would take:\n"
    "  up       every local test passed\n"
    "  restart  a local test failed: Go mode would restart the server's applications\n"
    "  reboot   a local test failed after RestartsB4Reboot restarts in a row\n"
    "\n"
    "The tests: the restart program's detection section (only while UseIni is on, which\n"
    "the settings load always turns off), the local URLs of [URLS] (the first failure ends\n"
    "the pass, as in Go mode), the programs of [STOPS] and their activity (through the\n"
    "watcher companion, when it is registered), and the remote URLs of [RURLS], which never\n"
    "decide anything.\n"
    "\n"
    "  --restarts N  decide as if N restarts in a row had been made (default 0)\n"
    "\n"
    "Nothing is sent, restarted or saved.\n"
    "Exit status: 0 the local side is up, 1 it is not (or the settings cannot be read),\n"
    "2 bad arguments.\n";

int Usage(const std::string& message) { return UsageError("cycle", message); }

// The tool never stops and never asks the engine to end.
class ToolOwner : public CMenderOwner {
 public:
  void SetOpsState(std::int32_t) override {}
  std::int32_t PendingCommand() const override { return 1000; }
  bool KillRequested() const override { return false; }
};

std::vector<std::string> Entries(CRamFileRO& image, const char* section) {
  std::vector<std::string> out;
  for (std::string line = image.FirstLineOfSection(section); !line.empty();
       line = image.NextLineOfSection()) {
    out.push_back(line);
  }
  return out;
}

std::string Outcome(const CUrlOutcome& o) {
  if (o.good) return "good (" + std::to_string(o.status) + ")";
  if (!o.failure.empty()) return "FAILED (" + o.failure + ")";
  if (o.result <= 0) return "FAILED (status " + std::to_string(o.status) + ")";
  return "FAILED (no answer)";
}

// Local URLs; true when all were good.
bool LocalUrls(CAllSets& settings) {
  const std::vector<std::string> urls = Entries(*settings.SettingsImage(), "[URLS]");
  if (urls.empty()) std::printf("local URLs: none\n");
  for (std::size_t i = 0; i < urls.size(); ++i) {
    const CUrlOutcome o = TestUrl(urls[i], UrlChecksFor(settings, urls[i]));
    std::printf("local URL %s: %s\n", urls[i].c_str(), Outcome(o).c_str());
    if (!o.good) {
      for (std::size_t j = i + 1; j < urls.size(); ++j) {
        std::printf("local URL %s: not tested in this pass\n", urls[j].c_str());
      }
      return false;
    }
  }
  return true;
}

// The programs of [STOPS] and their activity; true when nothing says the server is down.
bool ProcessActivity(CAllSets& settings, CServiceWiring& wiring) {
  if (Entries(*settings.SettingsImage(), CWManager::kStopsSection).empty()) {
    std::printf("watched programs: none\n");
    return true;
  }
  const COpsFacilities& f = wiring.Facilities();
  CMender engine(f.clock, f.launcher, f.power, f.keys, f.components);
  ToolOwner owner;
  engine.SetSettings(&settings);
  engine.SetOwner(&owner);
  engine.SetSensitivity(settings.m_iSensitivity);
  engine.CreateWatcher();
  CItemManager items;  // never initialized: nothing goes into the uptime record
  CWManager watcher;
  watcher.SetItemManager(&items);
  if (!watcher.Initialize(settings.SettingsImage(), &engine, settings.m_sMachineName)) {
    std::printf("watched programs: cannot be watched (is MachineName set?)\n");
    return false;
  }
  if (!watcher.LWN()) {
    std::printf("watched programs: %s\n",
                snx::platform::VisibleText(watcher.FailureText().View()).c_str());
    return false;
  }
  std::printf("watched programs: all running\n");
  if (!engine.WatcherArmed()) {
    std::printf("process activity: not tested (the watcher companion %s is not available)\n",
                snx::platform::kWatcherProgId);
    return true;
  }
  if (!settings.m_bWATCH) {
    std::printf("process activity: not tested (WATCH is off)\n");
    return true;
  }
  if (engine.XTst()) {
    std::printf("process activity: working\n");
    return true;
  }
  CQorStr text;
  engine.GetWatcherText(text);
  std::printf("process activity: FAILED (%s)\n", snx::platform::VisibleText(text.View()).c_str());
  return false;
}

void RemoteUrls(CAllSets& settings) {
  const std::vector<std::string> urls = Entries(*settings.SettingsImage(), "[RURLS]");
  if (urls.empty()) std::printf("remote URLs: none\n");
  for (const std::string& url : urls) {
    std::printf("remote URL %s: %s\n", url.c_str(),
                Outcome(TestUrl(url, UrlChecksFor(settings, url))).c_str());
  }
}

int Run(const std::string& folder, int restarts) {
  if (!snx::platform::Files().FolderExists(folder)) {
    std::fprintf(stderr, "snxctl cycle: no such folder: %s\n", folder.c_str());
    return kExitFailure;
  }
  if (const std::string why = SettingsUnreadable(folder); !why.empty()) {
    std::fprintf(stderr, "snxctl cycle: %s\n", why.c_str());
    return kExitFailure;
  }
  KeptLog kept(KeptLines::kErrorsOnly);
  CRamFileRO image;
  CAllSets settings;
  settings.SetProgramDirectory(folder);
  settings.SetSettingsImage(&image);
  if (!snx::platform::Files().Exists(folder + "AutoSet.caf") ||
      !image.Initialize(folder, CAllSets::kSettingsFileName) || !settings.ReInitialize()) {
    std::fprintf(stderr, "snxctl cycle: the settings file %sAutoSet.caf cannot be read\n",
                 folder.c_str());
    kept.Print("  ");
    return kExitFailure;
  }
  // The URLs are fetched with the https settings the service uses.
  CGetWebPage::SetCaFile(settings.m_sCaFile.View());
  CGetWebPage::SetProxy(settings.m_sProxy.View());
  CServiceWiring wiring(folder);
  bool local_ok = true;
  if (settings.m_bUseIni) {
    CMender engine(wiring.Facilities().clock, wiring.Facilities().launcher,
                   wiring.Facilities().power, wiring.Facilities().keys,
                   wiring.Facilities().components);
    ToolOwner owner;
    const std::atomic<bool> keep_going{true};
    engine.SetSettings(&settings);
    engine.SetOwner(&owner);
    engine.SetKeepGoingFlag(&keep_going);
    local_ok = engine.LoadProgram(folder) && engine.RunDetectOperations();
    std::printf("detection section: %s\n", local_ok ? "passed" : "FAILED");
  } else {
    std::printf("detection section: not run (UseIni is off)\n");
  }
  if (local_ok) local_ok = LocalUrls(settings);
  if (local_ok) local_ok = ProcessActivity(settings, wiring);
  RemoteUrls(settings);
  const CycleDecision decision = DecideCycle(local_ok, restarts, settings.m_iRestartsB4Reboot);
  std::printf("decision: %s\n", CycleDecisionWord(decision));
  std::fflush(stdout);
  return local_ok ? kExitOk : kExitFailure;
}

int CycleMain(const std::vector<std::string>& args) {
  std::string folder;
  bool have_folder = false;
  int restarts = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "--dir" && i + 1 < args.size()) {
      folder = args[++i];
      have_folder = true;
    } else if (arg == "--restarts" && i + 1 < args.size()) {
      const std::string& n = args[++i];
      if (n.empty() || n.size() > 6 || n.find_first_not_of("0123456789") != std::string::npos) {
        return Usage("--restarts needs a number");
      }
      restarts = std::stoi(n);
    } else {
      return Usage("unknown argument '" + snx::platform::VisibleText(arg) + "'");
    }
  }
  if (have_folder && folder.empty()) return Usage("--dir needs a folder");
  folder = InstallFolderOr(folder);
  if (folder.empty()) {
    std::fprintf(stderr, "snxctl cycle: cannot tell the folder of snxctl; give --dir\n");
    return kExitFailure;
  }
  return Run(folder, restarts);
}

const SubCommandRegistrar kCycle({"cycle", "run one Go mode test cycle and print its decision",
                                  CycleMain});

}  // namespace
}  // namespace snxctl

// snxctl activity: what the activity watcher sees of the named programs, second by second.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "components/component_factory.h"
#include "components/watcher_interface.h"
#include "core/log_writer.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/visible_text.h"
#include "probes/image_name.h"
#include "probes/image_name_matcher.h"
#include "snxctl/install_folder.h"
#include "snxctl/kept_log.h"
#include "snxctl/subcommand.h"
#include "text/counter_path.h"

namespace snxctl {
namespace {

using namespace snx::platform;

constexpr const char* kActivityHelp =
    "usage: snxctl activity [--dir FOLDER] [--seconds N] [--sensitivity S] [--machine NAME]\n"
    "                       PROGRAM...\n"
    "\n"
    "Watches the running processes of the PROGRAMs (program texts as written under [STOPS])\n"
    "through the registered activity watcher (\"QorPerf.Watcher\"), exactly as the watchdog\n"
    "does: four counter paths per process, and the test with the threshold and level that the\n"
    "sensitivity gives (threshold 10 + 1.2 x S, level 101 - S). Prints each counter and the\n"
    "verdict once a second for N seconds (default 10).\n"
    "\n"
    "  --dir FOLDER      the install folder (default: snxctl's folder)\n"
    "  --seconds N       how long to watch, 1 to 86400 (default 10)\n"
    "  --sensitivity S   the Sensitivity setting, 0 to 100 (default 5)\n"
    "  --machine NAME    the machine name of the counter paths (default: this host's name)\n"
    "\n"
    "Exit status: 0 the last verdict is \"working\", 1 it is not (or a program is not running,\n"
    "or the watcher cannot be made), 2 bad arguments.\n";

int Usage(const std::string& text) { return UsageError("activity", text); }

int Fail(const std::string& text) {
  std::fprintf(stderr, "snxctl activity: %s\n", VisibleText(text).c_str());
  return kExitFailure;
}

bool ReadNumber(const std::string& text, int low, int high, int& out) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < low || n > high) return false;
  out = static_cast<int>(n);
  return true;
}

std::string HostName() {
  std::unique_ptr<File> f = Use<FileSystem>().Open("/proc/sys/kernel/hostname", "rb");
  char buffer[256] = {};
  const std::size_t n = f ? f->Read(buffer, sizeof buffer - 1) : 0;
  std::string name(buffer, n);
  while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
  return name.empty() ? "LOCALHOST" : name;
}

// The base stem of the process the watchdog takes for `program`; "" when none runs.
std::string StemOf(CImageName& images, const std::string& program) {
  CImageNameMatcher matcher;
  if (matcher.Go(program, &images.Records())) {
    if (const CPImage* r = images.At(matcher.MatchedIndex())) return r->m_sBaseStem.GetBuffer();
  }
  CPImage* r = nullptr;
  if (images.GetPImageByProgramName(program, r) && r != nullptr) return r->m_sBaseStem.GetBuffer();
  return "";
}

int RunActivity(const std::vector<std::string>& args) {
  std::string folder;
  std::string machine;
  int seconds = 10;
  int sensitivity = 5;
  std::vector<std::string> programs;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      std::fputs(kActivityHelp, stdout);
      return kExitOk;
    } else if (a == "--dir") {
      if (!has_value || args[i + 1].empty()) return Usage("--dir needs a folder");
      folder = args[++i];
    } else if (a == "--machine") {
      if (!has_value ||
          !ParseCounterPath(BuildCounterPath(args[i + 1], "x", ProcessCounter::kElapsedTime))) {
        return Usage("--machine needs a name without \\, ( or )");
      }
      machine = args[++i];
    } else if (a == "--seconds") {
      if (!has_value || !ReadNumber(args[++i], 1, 86400, seconds)) {
        return Usage("--seconds needs a number from 1 to 86400");
      }
    } else if (a == "--sensitivity") {
      if (!has_value || !ReadNumber(args[++i], 0, 100, sensitivity)) {
        return Usage("--sensitivity needs a number from 0 to 100");
      }
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option '" + VisibleText(a) + "'");
    } else {
      programs.push_back(a);
    }
  }
  if (programs.empty()) return Usage("name at least one PROGRAM");
  folder = InstallFolderOr(folder);
  if (machine.empty()) machine = HostName();

  KeptLog kept(KeptLines::kAll, false);
  CImageName images;
  if (!images.Initialize()) return Fail("the process list cannot be read");

  std::string why;
  ComPtr<IWatcher> watcher =
      CreateComponent<IWatcher>(Use<ComponentFactory>(), CLSID_Watcher, &why);
  if (!watcher) {
    return Fail("cannot create " + std::string(kWatcherProgId) + ": " + why + " (snxctl register " +
                kWatcherFile + ")");
  }
  std::int32_t answer = 0;
  Variant count = Variant::Int(1);
  watcher->SetCreationCount(&count, &answer);
  Variant where = Variant::Text(folder);
  watcher->Configure(&where, &answer);
  if (answer != -1) return Fail("the watcher is not ready");

  for (const std::string& program : programs) {
    const std::string stem = StemOf(images, program);
    if (stem.empty()) {
      const std::size_t cut = program.find_last_of("\\/");
      return Fail("Failed. Cannot see " +
                  (cut == std::string::npos ? program : program.substr(cut + 1)));
    }
    for (int order = 0; order < kProcessCounterCount; ++order) {
      Variant path = Variant::Text(BuildCounterPath(machine, stem, ProcessCounterAt(order)));
      watcher->AddCounter(&path, &answer);
      if (answer != -1) return Fail("the watcher refused " + path.TextValue());
    }
  }

  // As the watchdog computes them from the sensitivity.
  const std::int32_t threshold = 10 - static_cast<std::int32_t>(-1.2 * sensitivity);
  Variant level = Variant::Int(101 - sensitivity);
  watcher->SetLevel(&level);
  std::printf("threshold %d, level %d\n", threshold, 101 - sensitivity);

  bool working = false;
  for (int second = 1; second <= seconds; ++second) {
    Use<Clock>().SleepFor(std::chrono::seconds(1));
    Variant t = Variant::Int(threshold);
    watcher->TestWorking(&t, &answer);
    working = answer == -1;
    std::int32_t counters = 0;
    watcher->GetCounterCount(&counters);
    std::printf("[%d]\n", second);
    for (std::int32_t i = 0; i < counters; ++i) {
      Variant index = Variant::Int(i);
      Variant path;
      Variant value;
      watcher->GetCounterPath(&index, &path);
      watcher->GetCounterValue(&index, &value);
      std::printf("  %-60s %s\n", VisibleText(path.TextValue()).c_str(),
                  VisibleText(value.TextValue()).c_str());
    }
    if (working) {
      std::printf("  verdict: working\n");
    } else {
      Variant text;
      watcher->GetText(&text);
      std::printf("  verdict: not working: %s\n", VisibleText(text.TextValue()).c_str());
    }
    std::fflush(stdout);
  }
  return working ? kExitOk : kExitFailure;
}

const SubCommandRegistrar kActivity({"activity", "watch programs' activity as the watchdog does",
                                     RunActivity});

}  // namespace
}  // namespace snxctl

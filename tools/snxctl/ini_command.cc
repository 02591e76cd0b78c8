// snxctl ini: the administrator's way to try a restart program "Sentinex.ini": show what the
// engine loads from it, and run its detection or restarter section once with the real engine,
// as Go mode would, or only say what each step would do.

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "components/component_factory.h"
#include "core/log_writer.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/key_store.h"
#include "platform/launcher.h"
#include "platform/power.h"
#include "recovery/instruction.h"
#include "recovery/mender.h"
#include "recovery/mender_owner.h"
#include "snxctl/install_folder.h"
#include "snxctl/kept_log.h"
#include "snxctl/subcommand.h"

namespace snxctl {
namespace {

using snx::platform::Use;

constexpr const char* kUsage =
    "usage: snxctl ini [--dir FOLDER] show\n"
    "       snxctl ini [--dir FOLDER] run detection|restarter [--dry-run]\n"
    "\n"
    "Tries the restart program Sentinex.ini of the folder FOLDER (by default the folder of\n"
    "snxctl itself, the install folder) with the service's own restart engine.\n"
    "\n"
    "  show        load the program as the engine does; print its engine settings and its\n"
    "              steps by section, each with what it does on this system\n"
    "  run SECTION run the detection or the restarter section once, as Go mode would, and\n"
    "              print each step and its outcome. Steps really run: programs are started\n"
    "              and killed, the web server is reset, files are deleted. Copies of watched\n"
    "              files (\"Detect\") are kept in FOLDER, as the service keeps them.\n"
    "  --dry-run   with run: print what each step would start, kill, reset, wait for or\n"
    "              delete, and do none of it\n"
    "\n"
    "The service never runs these sections by itself (its settings load turns UseIni off):\n"
    "this is how a restart program is tried. A program file that anyone but its owner may\n"
    "write (group- or world-writable, or owned by a user other than root or this user) is\n"
    "refused. The engine's lines go to stderr when the load or a step fails.\n"
    "\n"
    "Exit status: 0 loaded / section passed, 1 load failed / a step failed, 2 bad arguments.\n";

int Usage(const std::string& message) { return UsageError("ini", message); }

// The owner of a run from the tool: no STOP ever comes, and nothing asks it to end.
class ToolOwner : public CMenderOwner {
 public:
  void SetOpsState(std::int32_t state) override { state_ = state; }
  std::int32_t PendingCommand() const override { return 1000; }
  bool KillRequested() const override { return false; }

 private:
  std::atomic<std::int32_t> state_{0};
};

// Where the engine would enter and leave each section, for printing the program by section.
void PrintProgram(CMender& engine) {
  std::printf("engine settings:\n");
  std::printf("  RetryCount             %d\n", engine.RetryCount());
  std::printf("  MaxWait                %d s\n", engine.MaxWait());
  std::printf("  DomainName             %s\n", engine.DomainName().GetBuffer());
  std::printf("  UserName               %s\n", engine.UserName().GetBuffer());
  std::printf("  Password               (not shown)\n");
  std::printf("  PathToInternetExplorer %s\n", engine.BrowserPath().GetBuffer());
  std::printf("instructions (%d):\n", engine.InstructionCount());
  bool detection_seen = false;
  bool restarter_seen = false;
  bool inside = false;
  const std::vector<CInstruction*> steps = engine.Instructions();
  for (std::size_t i = 0; i < steps.size(); ++i) {
    CInstruction* step = steps[i];
    if (step == nullptr) continue;
    if (!inside && step->Name().IsSame("Begin")) {
      inside = true;
      std::string role;
      if (!detection_seen && step->Value().Find("Detection") >= 0) {
        detection_seen = true;
        role = "detection section";
      } else if (!restarter_seen && step->Value().Find("RESTARTER") >= 0) {
        restarter_seen = true;
        role = "restarter section";
      } else {
        role = "a section the engine never runs";
      }
      std::printf("  [%s] %s\n", step->Value().GetBuffer(), role.c_str());
      continue;
    }
    if (inside && step->Name().IsSame("End")) {
      inside = false;
      std::printf("  [end]\n");
      continue;
    }
    std::printf("    %-3zu %s = %s\n        %s%s\n", i + 1, step->Name().GetBuffer(),
                step->Value().GetBuffer(), inside ? "" : "(outside any section, never run) ",
                engine.DescribeStep(*step).c_str());
  }
  if (!detection_seen) std::printf("  (no detection section)\n");
  if (!restarter_seen) std::printf("  (no restarter section)\n");
}

int Run(const std::string& folder, const std::vector<std::string>& args) {
  if (args.empty()) return Usage("no command given");
  const std::string& command = args[0];
  bool dry_run = false;
  std::string section;
  if (command == "show") {
    if (args.size() != 1) return Usage("show takes no arguments");
  } else if (command == "run") {
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--dry-run") {
        dry_run = true;
      } else if ((args[i] == "detection" || args[i] == "restarter") && section.empty()) {
        section = args[i];
      } else {
        return Usage("run takes detection or restarter, and --dry-run");
      }
    }
    if (section.empty()) return Usage("run needs detection or restarter");
  } else {
    return Usage("unknown command '" + command + "'");
  }

  if (!snx::platform::Files().FolderExists(folder)) {
    std::fprintf(stderr, "snxctl ini: no such folder: %s\n", folder.c_str());
    return kExitFailure;
  }
  KeptLog kept(KeptLines::kErrorsOnly);
  snx::platform::LauncherContext context;
  context.install_folder = folder;
  context.components = &Use<snx::platform::ComponentFactory>();
  std::unique_ptr<snx::platform::Launcher> launcher = snx::platform::NewPosixLauncher(context);
  CMender engine(Use<snx::platform::Clock>(), *launcher, Use<snx::platform::Power>(),
                 Use<snx::platform::KeyStore>(), Use<snx::platform::ComponentFactory>());
  std::printf("restart program: %s%s\n", folder.c_str(), CMender::kProgramFile);
  if (!engine.LoadProgram(folder)) {
    std::fflush(stdout);
    std::fprintf(stderr, "snxctl ini: the restart program could not be loaded:\n");
    kept.Print("  ");
    return kExitFailure;
  }
  if (command == "show") {
    PrintProgram(engine);
    return kExitOk;
  }

  ToolOwner owner;
  const std::atomic<bool> keep_going{true};
  engine.SetOwner(&owner);
  engine.SetKeepGoingFlag(&keep_going);
  engine.SetDryRun(dry_run);
  int steps = 0;
  engine.SetStepListener([&steps](const CInstruction& step, std::string_view action, bool passed) {
    std::printf("step %d: %s = %s\n  %.*s\n  %s\n", ++steps, step.Name().GetBuffer(),
                step.Value().GetBuffer(), static_cast<int>(action.size()), action.data(),
                passed ? "passed" : "FAILED");
    std::fflush(stdout);
  });
  const bool passed =
      section == "detection" ? engine.RunDetectOperations() : engine.RunRestarterOperations();
  if (steps == 0 && engine.InstructionCount() > 0) {
    std::printf("no step ran: the program has no %s section with steps\n", section.c_str());
  }
  std::printf("%s section %s%s\n", section.c_str(), passed ? "passed" : "FAILED",
              dry_run ? " (dry run: nothing was done)" : "");
  std::fflush(stdout);
  if (!passed) kept.Print("  ");
  return passed ? kExitOk : kExitFailure;
}

int IniMain(const std::vector<std::string>& args) {
  std::string folder;
  bool have_folder = false;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "--dir") {
      if (i + 1 >= args.size()) return Usage("--dir needs a folder");
      folder = args[++i];
      have_folder = true;
    } else if (arg.rfind("--dir=", 0) == 0) {
      folder = arg.substr(6);
      have_folder = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option '" + arg + "'");
    } else {
      break;
    }
  }
  if (have_folder && folder.empty()) return Usage("--dir needs a folder");
  folder = InstallFolderOr(folder);
  if (folder.empty()) {
    std::fprintf(stderr, "snxctl ini: cannot tell the folder of snxctl; give --dir\n");
    return kExitFailure;
  }
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  for (const auto& a : rest) {
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
  }
  try {
    return Run(folder, rest);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "snxctl ini: %s\n", e.what());
    return kExitFailure;
  }
}

const SubCommandRegistrar kIni({"ini", "show or try the restart program Sentinex.ini", IniMain});

}  // namespace
}  // namespace snxctl

// snxctl procs: the running processes as the watchdog sees them, and which of them a program
// text of the settings ([PROGS], [STOPS]) stands for.

#include <cstdio>
#include <string>
#include <vector>

#include "core/log_writer.h"
#include "platform/visible_text.h"
#include "probes/image_name.h"
#include "probes/image_name_matcher.h"
#include "snxctl/kept_log.h"
#include "snxctl/subcommand.h"

namespace snxctl {
namespace {

constexpr const char* kProcsHelp =
    "usage: snxctl procs [--verbose] [PROGRAM]\n"
    "\n"
    "Without PROGRAM: lists every process whose executable can be read, with its id, its base\n"
    "stem (the executable's file name up to the first \".\", the name the activity counters\n"
    "use) and the executable's full path.\n"
    "\n"
    "With PROGRAM (a program text as written under [PROGS] or [STOPS]): shows which process\n"
    "the watchdog takes for it: a process whose executable path is the text (case folded),\n"
    "else the process in whose path the text stands furthest in (from the ninth character\n"
    "on), else a short-form path (with \"~\") that stands for the text.\n"
    "\n"
    "  --verbose  print the matcher's log lines to stderr\n"
    "\n"
    "Exit status: 0 listed or matched, 1 no process matches (or no list), 2 bad arguments.\n";

using snx::platform::VisibleText;

// One process, one row: a process may name its executable with line ends and escape
// sequences, and they are shown as escapes.
void PrintRecord(const CPImage& r) {
  std::printf("%7d  %-20s  %s\n", r.m_iProcessId, VisibleText(r.m_sBaseStem.View()).c_str(),
              VisibleText(r.m_sProgramName.View()).c_str());
}

int RunProcs(const std::vector<std::string>& args) {
  bool verbose = false;
  std::string program;
  bool have_program = false;
  for (const auto& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kProcsHelp, stdout);
      return kExitOk;
    }
    if (a == "--verbose" || a == "-v") {
      verbose = true;
    } else if (!a.empty() && a[0] == '-') {
      return UsageError("procs", "unknown option '" + a + "'");
    } else if (have_program) {
      return UsageError("procs", "one PROGRAM only (quote a path with blanks)");
    } else {
      program = a;
      have_program = true;
    }
  }

  KeptLog kept(KeptLines::kAll, verbose);  // the matcher's lines reach stderr when asked for

  CImageName images;
  if (!images.Initialize()) {
    std::fprintf(stderr, "snxctl procs: the process list cannot be read\n");
    return kExitFailure;
  }
  if (!have_program) {
    std::printf("%7s  %-20s  %s\n", "PID", "BASE STEM", "EXECUTABLE");
    for (int i = 0; i < images.Count(); ++i) {
      if (const CPImage* r = images.At(i)) PrintRecord(*r);
    }
    return kExitOk;
  }

  CImageNameMatcher matcher;
  if (matcher.Go(program, &images.Records())) {
    const CPImage* r = images.At(matcher.MatchedIndex());
    if (r == nullptr) return kExitFailure;
    const bool exact = r->m_sProgramName.IsSame(program);
    std::printf("%s matches (%s):\n", VisibleText(program).c_str(),
                exact ? "same path" : "text found inside the path");
    PrintRecord(*r);
    return kExitOk;
  }
  CPImage* r = nullptr;
  if (images.GetPImageByProgramName(program, r) && r != nullptr) {
    std::printf("%s matches (short-form path):\n", VisibleText(program).c_str());
    PrintRecord(*r);
    return kExitOk;
  }
  std::printf("%s matches no running process\n", VisibleText(program).c_str());
  return kExitFailure;
}

const SubCommandRegistrar kProcs({"procs", "list processes as the watchdog sees them", RunProcs});

}  // namespace
}  // namespace snxctl

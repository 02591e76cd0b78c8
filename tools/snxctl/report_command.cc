// snxctl report: the uptime report of the install folder's "Uptime" log, rendered by the report
// companion "SnxReport.UtReport".

#include <cstdio>
#include <string>
#include <vector>

#include "components/component_factory.h"
#include "components/ut_report_interface.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/visible_text.h"
#include "snxctl/install_folder.h"
#include "snxctl/subcommand.h"
#include "uptime_figures.h"

namespace snxctl {
namespace {

using namespace snx::platform;

constexpr const char* kReportHelp =
    "usage: snxctl report [--dir FOLDER] [--since 24h|7d|30d|DATE] [--until DATE]\n"
    "                     [--html FILE] [--metrics] [--json]\n"
    "\n"
    "Reads the uptime record (Uptime.old, then Uptime.log) of the install folder and prints,\n"
    "for each monitored item over the window: availability, outages, the longest outage, the\n"
    "mean time to recovery, and the state now and since when; for the \"Restart\" item the\n"
    "restarts and reboots. The report is made by the registered companion SnxReport.UtReport.\n"
    "\n"
    "  --dir FOLDER   the install folder (default: snxctl's folder)\n"
    "  --since S      the window's start: a number of hours or days back from its end (24h,\n"
    "                 7d, 30d) or a DATE (default 24h)\n"
    "  --until DATE   the window's end (default: now)\n"
    "  --html FILE    also write the report as one self-contained page with a timeline per item\n"
    "  --metrics      print Prometheus metrics of the log instead of the table\n"
    "  --json         print the report as one JSON object instead of the table (keys in\n"
    "                 docs/report.md; not with --html or --metrics)\n"
    "\n"
    "DATE is local time, as the log writes it: MM/DD/YY or YYYY-MM-DD, either with an optional\n"
    "HH:MM:SS after a blank (quote it: --until \"12/07/26 06:00:00\").\n"
    "\n"
    "Exit status: 0 reported, 1 no uptime log could be read, the companion is not registered\n"
    "(or too old for --json) or the page could not be written, 2 bad arguments.\n";

int Usage(const std::string& text) { return UsageError("report", text); }

int Fail(const std::string& text) {
  std::fprintf(stderr, "snxctl report: %s\n", VisibleText(text).c_str());
  return kExitFailure;
}

struct Options {
  std::string folder;
  std::string since;
  std::string until;
  std::string html;
  bool metrics = false;
  bool json = false;
};

// Empty when the arguments are good, else why not.
std::string ReadOptions(const std::vector<std::string>& args, Options& o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* value = a == "--dir"     ? &o.folder
                         : a == "--since" ? &o.since
                         : a == "--until" ? &o.until
                         : a == "--html"  ? &o.html
                                          : nullptr;
    if (value != nullptr) {
      if (i + 1 >= args.size() || args[i + 1].empty()) return a + " needs a value";
      *value = args[++i];
    } else if (a == "--metrics") {
      o.metrics = true;
    } else if (a == "--json") {
      o.json = true;
    } else {
      return "unknown argument '" + a + "'";
    }
  }
  if (o.json && (o.metrics || !o.html.empty())) return "--json cannot go with --html or --metrics";
  return "";
}

std::string TextOf(HRESULT (IUtReport::*get)(Variant*), IUtReport& report) {
  Variant text;
  (report.*get)(&text);
  return text.TextValue();
}

int RunReport(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kReportHelp, stdout);
      return kExitOk;
    }
  }
  Options o;
  if (const std::string why = ReadOptions(args, o); !why.empty()) return Usage(why);
  // A window that cannot be is a usage error, whether or not the companion is there to say so.
  snx::report::LocalTimeScale scale(Use<Clock>());
  if (std::string why;
      !snx::report::WindowOf(scale, o.since.empty() ? "24h" : o.since, o.until, why)) {
    return Usage(why);
  }
  const std::string folder = InstallFolderOr(o.folder);

  std::string why;
  ComPtr<IUtReport> report;
  Use<ComponentFactory>().CreateByProgID(kUtReportProgId, IUtReport::kIid, report.PutVoid(), &why);
  if (!report) {
    return Fail(std::string("cannot create the report companion ") + kUtReportProgId + ": " + why +
                " (register it: snxctl register " + kUtReportFile + ")");
  }
  // The JSON is a later interface of the companion: an older SnxReport.dll does not offer it.
  ComPtr<IUtReportJson> as_json;
  if (o.json && FAILED(report->QueryInterface(IUtReportJson::kIid, as_json.PutVoid()))) {
    return Fail(std::string("the report companion ") + kUtReportFile +
                " is too old to give JSON (install the one of this snxctl and register it)");
  }
  std::int32_t answer = 0;
  Variant since = Variant::Text(o.since);
  Variant until = Variant::Text(o.until);
  report->SetWindow(&since, &until, &answer);
  if (answer != -1) return Usage(TextOf(&IUtReport::GetText, *report.Get()));
  Variant where = Variant::Text(folder);
  report->Load(&where, &answer);
  if (answer != -1) return Fail(TextOf(&IUtReport::GetText, *report.Get()));

  // The page first: a page that cannot be written leaves the file as it was and fails alone.
  if (!o.html.empty()) {
    if (!ReplaceFileWith(Use<FileSystem>(), o.html, TextOf(&IUtReport::GetPage, *report.Get()),
                         0644)) {
      return Fail(LastFileError());
    }
    std::fprintf(stderr, "snxctl report: page written to %s\n", VisibleText(o.html).c_str());
  }
  std::string text;
  if (as_json) {
    Variant object;
    as_json->GetJson(&object);
    text = object.TextValue();
  } else {
    text = TextOf(o.metrics ? &IUtReport::GetMetrics : &IUtReport::GetTable, *report.Get());
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return kExitOk;
}

const SubCommandRegistrar kReport({"report", "uptime report: availability, outages, timelines",
                                   RunReport});

}  // namespace
}  // namespace snxctl

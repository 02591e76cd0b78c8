// snxctl pulse: tells a push monitor outside the machine (Uptime Kuma, a healthchecks-style
// service) that the watchdog's heartbeat is fresh, through the life-sign companion
// "QorPulse.Pulse". Run once a minute by snxsvc-pulse.timer (docs/pulse.md).

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "components/component_factory.h"
#include "components/pulse_interface.h"
#include "files/all_sets.h"
#include "files/ram_file_ro.h"
#include "platform/file_system.h"
#include "platform/visible_text.h"
#include "snxctl/install_folder.h"
#include "snxctl/kept_log.h"
#include "snxctl/settings_access.h"
#include "snxctl/subcommand.h"

namespace snxctl {
namespace {

using namespace snx::platform;

constexpr const char* kPulseHelp =
    "usage: snxctl pulse [--dir FOLDER] [--max-age SECONDS] [--url URL] [--fail-url URL]\n"
    "\n"
    "Tests the watchdog's heartbeat (the last line of Beat.txt, in the heartbeat folder\n"
    "D:\\Heartbeat when it exists, else in the install folder) through the life-sign companion\n"
    "\"QorPulse.Pulse\". When it is fresh, one HTTP GET goes to the push URL; when it is stale\n"
    "(too old, missing, garbled, or in the future), one goes to the fail URL if there is one.\n"
    "Each push follows at most one redirect and takes at most 10 seconds.\n"
    "\n"
    "  --dir FOLDER       the install folder (default: snxctl's folder)\n"
    "  --max-age SECONDS  the oldest heartbeat that is fresh (default: twice MinuteInterval\n"
    "                     minutes plus one minute)\n"
    "  --url URL          the push URL (default: the setting PulseUrl)\n"
    "  --fail-url URL     the URL for a stale heartbeat (default: the setting PulseFailUrl)\n"
    "\n"
    "Exit status: 0 the heartbeat is fresh and the push was answered 200-299; 1 the heartbeat\n"
    "is stale, or the push failed, or the companion cannot be made; 2 bad arguments or no push\n"
    "URL configured.\n";

int Usage(const std::string& text) { return UsageError("pulse", text); }

int Fail(const std::string& text) {
  std::fprintf(stderr, "snxctl pulse: %s\n", VisibleText(text).c_str());
  return kExitFailure;
}

struct Options {
  std::string folder;
  long max_age = -1;  // -1: from MinuteInterval
  std::string url;
  std::string fail_url;
  bool url_given = false;
  bool fail_url_given = false;
};

// Reads the options; false with the exit code in `code` when the command should end.
bool ParseArgs(const std::vector<std::string>& args, Options& o, int& code) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      std::fputs(kPulseHelp, stdout);
      code = kExitOk;
      return false;
    }
    if (a == "--dir" || a == "--url" || a == "--fail-url" || a == "--max-age") {
      if (!has_value || args[i + 1].empty()) {
        code = Usage(a + " needs a value");
        return false;
      }
      const std::string& value = args[++i];
      if (a == "--dir") {
        o.folder = value;
      } else if (a == "--url") {
        o.url = value;
        o.url_given = true;
      } else if (a == "--fail-url") {
        o.fail_url = value;
        o.fail_url_given = true;
      } else {
        char* end = nullptr;
        o.max_age = std::strtol(value.c_str(), &end, 10);
        if (*end != '\0' || o.max_age < 0 || o.max_age > 366L * 86400) {
          code = Usage("--max-age needs a number of seconds from 0 to 31622400");
          return false;
        }
      }
    } else {
      code = Usage("unknown argument '" + VisibleText(a) + "'");
      return false;
    }
  }
  return true;
}

// The settings the command takes from AutoSet.caf. A missing file is not made: every key then
// has its default.
bool LoadSettings(const std::string& folder, CAllSets& settings, CRamFileRO& image) {
  KeptLog quiet(KeptLines::kErrorsOnly);
  const bool exists = Files().Exists(CRamFileRO::JoinPath(folder, CAllSets::kSettingsFileName));
  const bool read = exists ? image.Initialize(folder, CAllSets::kSettingsFileName)
                           : image.InitializeWithLines(folder, CAllSets::kSettingsFileName, {});
  if (!read) return false;
  settings.SetProgramDirectory(folder);
  settings.SetSettingsImage(&image);
  return settings.LoadIfNexessary();
}

// The length of one minute of MinuteInterval: SNX_MINUTE_SECONDS (1 to 60) for demos and
// tests, else 60.
long MinuteSeconds() {
  const char* text = std::getenv("SNX_MINUTE_SECONDS");
  if (text == nullptr || *text == '\0') return 60;
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  return *end == '\0' && n >= 1 && n <= 60 ? n : 60;
}

std::string TextOf(IPulse* pulse, HRESULT (IPulse::*get)(Variant*)) {
  Variant text;
  (pulse->*get)(&text);
  return VisibleText(text.TextValue());
}

int RunPulse(const std::vector<std::string>& args) {
  Options o;
  int code = kExitOk;
  if (!ParseArgs(args, o, code)) return code;
  const std::string folder = InstallFolderOr(o.folder);
  if (folder.empty()) return Fail("cannot tell the install folder; give --dir");
  if (!Files().FolderExists(folder)) return Fail("no such folder: " + folder);

  CAllSets settings;
  CRamFileRO image;
  // An unreadable settings file matters only for what is not given on the command line.
  if (!LoadSettings(folder, settings, image) &&
      (!o.url_given || !o.fail_url_given || o.max_age < 0)) {
    const std::string why = SettingsUnreadable(folder);
    return Fail((why.empty() ? "cannot read the settings file in " + folder : why) +
                "; give --url, --fail-url and --max-age to do without it");
  }
  if (!o.url_given) o.url = settings.m_sPulseUrl.GetBuffer();
  if (!o.fail_url_given) o.fail_url = settings.m_sPulseFailUrl.GetBuffer();
  if (o.url.empty()) {
    return UsageError("pulse",
                      "no push URL configured: set one with 'snxctl conf set PulseUrl URL' or "
                      "give --url URL");
  }
  if (o.max_age < 0) {
    const long minutes = settings.m_iMinuteInterval < 0 ? 0 : settings.m_iMinuteInterval;
    o.max_age = std::min<long>((2 * minutes + 1) * MinuteSeconds(), INT32_MAX);
  }

  std::string why;
  ComPtr<IPulse> pulse = CreateComponent<IPulse>(Use<ComponentFactory>(), CLSID_Pulse, &why);
  if (!pulse) {
    return Fail("cannot create " + std::string(kPulseProgId) + ": " + why +
                " (register it: snxctl register " + kPulseFile + ")");
  }
  std::int32_t answer = 0;
  Variant where = Variant::Text(folder);
  pulse->Configure(&where, &answer);
  if (answer != -1)
    return Fail("the companion is not ready: " + TextOf(pulse.Get(), &IPulse::GetText));

  Variant max_age = Variant::Int(static_cast<std::int32_t>(o.max_age));
  std::int32_t fresh = 0;
  pulse->TestHeartbeat(&max_age, &fresh);
  const std::string seen = TextOf(pulse.Get(), &IPulse::GetReport);
  const std::string stale = fresh == -1 ? "" : TextOf(pulse.Get(), &IPulse::GetText);
  if (stale != seen) std::printf("heartbeat: %s\n", seen.c_str());
  if (!stale.empty()) std::printf("heartbeat stale: %s\n", stale.c_str());

  const std::string& target = fresh == -1 ? o.url : o.fail_url;
  if (target.empty()) {
    std::printf(
        "no fail URL configured (PulseFailUrl): nothing pushed; the monitor will miss "
        "the push\n");
    return kExitFailure;
  }
  Variant url = Variant::Text(target);
  std::int32_t answered = 0;
  pulse->Push(&url, &answered);
  std::printf("%s%s: %s\n", fresh == -1 ? "push" : "fail push", answered == -1 ? "" : " failed",
              TextOf(pulse.Get(), &IPulse::GetReport).c_str());
  std::fflush(stdout);
  return fresh == -1 && answered == -1 ? kExitOk : kExitFailure;
}

const SubCommandRegistrar kPulse({"pulse", "tell a push monitor that the heartbeat is fresh",
                                  RunPulse});

}  // namespace
}  // namespace snxctl

// snxctl phone-test: sends the down (or up) phone alert exactly as the watchdog would: the
// settings from AutoSet.caf, the voice alert companion through the component layer, and the
// watchdog's own phone client. Prints what happened and the phone log's new lines.

#include <cstdio>
#include <string>
#include <vector>

#include "alerts/phoner.h"
#include "components/component_factory.h"
#include "files/all_sets.h"
#include "files/ram_file_ro.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/visible_text.h"
#include "snxctl/install_folder.h"
#include "snxctl/kept_log.h"
#include "snxctl/settings_access.h"
#include "snxctl/subcommand.h"

namespace snxctl {
namespace {

using snx::platform::VisibleText;

constexpr const char* kPhoneTestHelp =
    "usage: snxctl phone-test [--dir FOLDER] [--down | --up] [--verbose]\n"
    "\n"
    "Sends the phone alert the watchdog sends when the server goes down (--down, the default)\n"
    "or comes back up (--up): the settings come from AutoSet.caf in FOLDER (default: the\n"
    "folder of snxctl, the install folder), the calls go through the registered voice alert\n"
    "companion (QorVoiceAlert.dll), which runs FOLDER/voice-dial once per number in use and\n"
    "writes one line per call to FOLDER/Phone.log. Waits for the calls (at most 10 minutes).\n"
    "\n"
    "  --verbose  print every line the phone client logged\n"
    "\n"
    "Exit status: 0 every call was delivered, 1 not delivered or phone alerts not set up,\n"
    "2 bad arguments.\n";

constexpr std::int64_t kMaxShownLog = 64 * 1024;

int Usage(const std::string& problem) { return UsageError("phone-test", problem); }

// What the phone log gained past `offset` (at most kMaxShownLog bytes of it).
std::string LogTail(const std::string& path, std::int64_t offset) {
  auto& files = snx::platform::Files();
  const auto size = files.Size(path);
  if (!size || *size <= offset) return {};
  auto file = files.Open(path, "rb");
  if (!file) return {};
  std::string skipped(static_cast<std::size_t>(offset), '\0');
  if (offset > 0 && file->Read(skipped.data(), skipped.size()) != skipped.size()) return {};
  std::string tail(static_cast<std::size_t>(std::min(*size - offset, kMaxShownLog)), '\0');
  tail.resize(file->Read(tail.data(), tail.size()));
  return tail;
}

int RunPhoneTest(const std::vector<std::string>& args) {
  std::string dir;
  bool up = false;
  bool down = false;
  bool verbose = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kPhoneTestHelp, stdout);
      return kExitOk;
    }
    if (a == "--dir") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return Usage("--dir needs a folder");
      dir = args[++i];
    } else if (a == "--up") {
      up = true;
    } else if (a == "--down") {
      down = true;
    } else if (a == "--verbose" || a == "-v") {
      verbose = true;
    } else {
      return Usage("unknown argument '" + VisibleText(a) + "'");
    }
  }
  if (up && down) return Usage("--down and --up exclude each other");

  std::string folder = InstallFolderOr(dir);
  // The component runs FOLDER/voice-dial: a folder that does not depend on where we stand.
  if (!folder.empty() && folder.front() != '/') {
    folder.insert(0, snx::platform::Files().CurrentFolder() + "/");
  }
  if (folder.empty() || !snx::platform::Files().FolderExists(folder)) {
    std::fprintf(stderr, "snxctl phone-test: no such folder: %s\n", VisibleText(folder).c_str());
    return kExitFailure;
  }

  KeptLog kept(verbose ? KeptLines::kAll : KeptLines::kErrorsOnly);
  CRamFileRO image;
  CAllSets settings;
  settings.SetProgramDirectory(folder);
  settings.SetSettingsImage(&image);
  if (const std::string why = SettingsUnreadable(folder); !why.empty()) {
    std::fprintf(stderr, "snxctl phone-test: %s\n", VisibleText(why).c_str());
    return kExitFailure;
  }
  if (!image.Initialize(folder, CAllSets::kSettingsFileName) || !settings.ReInitialize()) {
    std::fprintf(stderr, "snxctl phone-test: cannot read %sAutoSet.caf\n",
                 VisibleText(folder).c_str());
    kept.Print("  ");
    return kExitFailure;
  }
  if (!settings.m_bPhoneAlertsReady) {
    std::fprintf(stderr,
                 "snxctl phone-test: phone alerts are not set up in AutoSet.caf, so the watchdog "
                 "sends none:\n  it needs MsgDown, MsgUp and at least one PNumN with PEN=1.\n");
    return kExitFailure;
  }

  std::printf("folder: %s\n", VisibleText(folder).c_str());
  for (int i = 0; i < CAllSets::kPhoneEntries; ++i) {
    if (!settings.m_bPE[i]) continue;
    std::printf("number %d: %s (%s)\n", i + 1, VisibleText(settings.m_sPNum[i].View()).c_str(),
                VisibleText(settings.m_sPName[i].View()).c_str());
  }
  std::printf("acknowledge: %s\n", settings.m_bPAck ? "yes" : "no");
  std::fflush(stdout);

  const std::string phone_log = folder + "Phone.log";
  const std::int64_t log_start = snx::platform::Files().Size(phone_log).value_or(0);

  CPhoner phoner(snx::platform::Use<snx::platform::ComponentFactory>(),
                 snx::platform::Use<snx::platform::Clock>());
  phoner.SetFolder(folder);
  const bool live = phoner.Initialize(&settings);
  phoner.ReadStatus();
  bool delivered = false;
  if (!live || !phoner.Status(4)) {
    std::fprintf(stderr, "snxctl phone-test: the voice alert companion is not ready%s\n",
                 live ? " (is FOLDER/voice-dial there and executable?)"
                      : " (is QorVoiceAlert.dll registered? snxctl register QorVoiceAlert.dll)");
  } else {
    const std::string_view text = up ? settings.m_sMsgUp.View() : settings.m_sMsgDown.View();
    std::printf("sending: %s message '%s'\n", up ? "up" : "down", VisibleText(text).c_str());
    std::fflush(stdout);
    phoner.SetMessageType(up ? PHONE_MSG_SERVER_UP : PHONE_MSG_SERVER_DOWN);
    delivered = up ? phoner.SendUpMessage() : phoner.SendDownMessage();
  }
  const std::string tail = LogTail(phone_log, log_start);
  if (!tail.empty())
    std::printf("phone log (%s):\n%s", VisibleText(phone_log).c_str(), tail.c_str());
  std::printf("delivered: %s\n", delivered ? "yes" : "no");
  std::fflush(stdout);
  kept.Print("  ");
  return delivered ? kExitOk : kExitFailure;
}

const SubCommandRegistrar kPhoneTest({"phone-test", "send the phone alert as the watchdog would",
                                      RunPhoneTest});

}  // namespace
}  // namespace snxctl

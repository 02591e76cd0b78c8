// snxctl notify-test: one test alert through every configured channel (the e-mail alert and
// each line of [WEBHOOKS]), and what each answered.

#include <cstdio>
#include <string>
#include <vector>

#include "alerts/alert_event.h"
#include "alerts/emailer.h"
#include "alerts/webhook.h"
#include "files/all_sets.h"
#include "files/ram_file_ro.h"
#include "files/webhook_line.h"
#include "platform/clock.h"
#include "platform/http_client.h"
#include "platform/mail_transport.h"
#include "snxctl/command_settings.h"
#include "snxctl/kept_log.h"
#include "snxctl/subcommand.h"

namespace snxctl {
namespace {

constexpr const char* kNotifyTestHelp =
    "usage: snxctl notify-test [--dir FOLDER] [--down | --up]\n"
    "\n"
    "Sends one test alert through every channel that AutoSet.caf in FOLDER (by default the\n"
    "install folder) configures, and says what each answered, one line each:\n"
    "\n"
    "  email: sent | not sent | off      the e-mail alert (when EmailEnabled is on)\n"
    "  webhook FORMAT URL: HTTP 200      each line of [WEBHOOKS], or why no answer came\n"
    "\n"
    "  --down   a server-down event (the default)\n"
    "  --up     a server-up event\n"
    "\n"
    "The alert says it is a test. Each webhook post is bounded to 10 seconds. The log lines of\n"
    "the attempt go to stderr. Nothing is written to any file.\n"
    "\n"
    "Exit status: 0 every channel took the alert, 1 one did not or none is configured, 2 bad\n"
    "arguments.\n";

int RunNotifyTest(const std::vector<std::string>& args) {
  std::string folder;
  bool up = false;
  bool down = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kNotifyTestHelp, stdout);
      return kExitOk;
    } else if (a == "--dir") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        return UsageError("notify-test", "--dir needs a folder");
      }
      folder = args[++i];
    } else if (a == "--up") {
      up = true;
    } else if (a == "--down") {
      down = true;
    } else {
      return UsageError("notify-test", "unknown argument '" + a + "'");
    }
  }
  if (up && down) return UsageError("notify-test", "--up and --down exclude each other");

  CRamFileRO image;
  CAllSets settings;
  if (!LoadFolderSettings("notify-test", folder, image, settings)) return kExitFailure;

  using snx::alerts::AlertKind;
  snx::alerts::AlertEvent event;
  event.kind = up ? AlertKind::kUp : AlertKind::kDown;
  event.machine = settings.m_sMachineName.ToString();
  auto& clock = snx::platform::Use<snx::platform::Clock>();
  event.time = snx::alerts::IsoLocal(clock.ToLocal(clock.WallNow()));
  event.action = "none: this is a test alert sent by snxctl notify-test.";

  KeptLog log(KeptLines::kAll, /*echo=*/true);
  bool all_ok = true;
  int channels = 0;
  if (settings.m_bEmailEnabled) {
    ++channels;
    CEmailer emailer(snx::platform::DefaultFacility<snx::platform::MailTransport>(), clock);
    emailer.Initialize(&settings);
    const bool sent = emailer.SendAlertEmail(!up, &event);
    all_ok = all_ok && sent;
    std::printf("email: %s\n", sent ? "sent" : "not sent");
  } else {
    std::printf("email: off (EmailEnabled)\n");
  }
  for (const char* line = image.FirstLineOfSection(snx::settings::kWebhooksSection); *line != '\0';
       line = image.NextLineOfSection()) {
    ++channels;
    snx::settings::WebhookLine hook;
    if (const std::string why = snx::settings::ParseWebhookLine(line, hook); !why.empty()) {
      all_ok = false;
      std::printf("webhook %s: %s\n", line, why.c_str());
      continue;
    }
    const snx::alerts::WebhookOutcome outcome =
        snx::alerts::PostWebhook(snx::platform::Use<snx::platform::HttpClient>(), hook, event);
    all_ok = all_ok && outcome.ok;
    std::printf("webhook %s %s: %s\n", snx::settings::WebhookFormatName(hook.format),
                hook.url.c_str(), outcome.answer.c_str());
  }
  if (channels == 0) {
    std::fprintf(stderr, "snxctl notify-test: no channel is configured\n");
    return kExitFailure;
  }
  return all_ok ? kExitOk : kExitFailure;
}

const SubCommandRegistrar kNotifyTest({"notify-test",
                                       "send a test alert through every configured channel",
                                       RunNotifyTest});

}  // namespace
}  // namespace snxctl

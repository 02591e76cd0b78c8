// snxctl mail-test: sends the e-mail alert exactly as the watchdog would, from the settings of
// the install folder, and shows the whole SMTP dialogue on stderr.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "alerts/emailer.h"
#include "files/all_sets.h"
#include "files/ram_file_ro.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/mail_transport.h"
#include "platform/path_map.h"
#include "snxctl/command_settings.h"
#include "snxctl/kept_log.h"
#include "snxctl/subcommand.h"

namespace snxctl {
namespace {

using snx::platform::Files;

constexpr const char* kMailTestHelp =
    "usage: snxctl mail-test [--dir FOLDER] [--down | --up | --remote URL] [--wait SECONDS]\n"
    "\n"
    "Sends one e-mail alert the way the watchdog sends it, with the settings of AutoSet.caf in\n"
    "FOLDER (by default the folder of snxctl itself, the install folder): the address list\n"
    "[EMAILS] (the first 32 addresses), SmtpServer (host or host:port, port 25 by default, 465\n"
    "with SmtpSecurity=tls), SmtpSecurity, SmtpUser, SmtpPassword, CaFile, EmailFrom, and the\n"
    "subject and body of the alert:\n"
    "\n"
    "  --down        the server-down message: EmailSubjectDn and EmailBodyDown (the default)\n"
    "  --up          the server-up message: EmailSubject and EmailBodyUp\n"
    "  --remote URL  the remote-URL-failed message for URL (with --up: the restored one)\n"
    "  --wait S      bound on the connect and on each reply of the server (default 30)\n"
    "\n"
    "The log lines of the attempt, the SMTP dialogue among them, go to stderr. The message is\n"
    "sent even when EmailEnabled is off (a note says so). Nothing is written to any file.\n"
    "\n"
    "After \"sent:\" each address the server refused is named on a line \"refused: ADDRESS\"; the\n"
    "message counts as sent when the server took it for at least one address.\n"
    "\n"
    "Exit status: 0 the message counted as sent, 1 it did not, 2 bad arguments.\n";

int Usage(const std::string& message) { return UsageError("mail-test", message); }

bool ParseWait(const std::string& text, std::chrono::milliseconds& out) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > 3600) {
    return false;
  }
  out = std::chrono::milliseconds(std::max<long long>(1, std::llround(seconds * 1000)));
  return true;
}

int RunMailTest(const std::vector<std::string>& args) {
  std::string folder;
  bool have_folder = false;
  bool up = false;
  bool down = false;
  std::string remote;
  bool have_remote = false;
  std::chrono::milliseconds wait = CWsEmail::kDefaultReplyWait;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      std::fputs(kMailTestHelp, stdout);
      return kExitOk;
    } else if (a == "--dir") {
      if (!has_value || args[i + 1].empty()) return Usage("--dir needs a folder");
      folder = args[++i];
      have_folder = true;
    } else if (a == "--remote") {
      if (!has_value || args[i + 1].empty()) return Usage("--remote needs a URL");
      remote = args[++i];
      have_remote = true;
    } else if (a == "--wait") {
      if (!has_value || !ParseWait(args[i + 1], wait)) {
        return Usage("--wait needs a number of seconds (0 < S <= 3600)");
      }
      ++i;
    } else if (a == "--up") {
      up = true;
    } else if (a == "--down") {
      down = true;
    } else {
      return Usage("unknown argument '" + a + "'");
    }
  }
  if (up && down) return Usage("--up and --down exclude each other");
  CRamFileRO image;
  CAllSets settings;
  if (!LoadFolderSettings("mail-test", have_folder ? folder : "", image, settings)) {
    return kExitFailure;
  }
  if (!settings.m_bEmailEnabled) {
    std::fprintf(stderr,
                 "snxctl mail-test: note: EmailEnabled is off; the watchdog sends no "
                 "e-mail alerts until it is on\n");
  }

  KeptLog log(KeptLines::kAll, /*echo=*/true);
  CEmailer emailer(snx::platform::DefaultFacility<snx::platform::MailTransport>(),
                   snx::platform::Use<snx::platform::Clock>());
  emailer.Initialize(&settings);
  emailer.Client().SetReplyWait(wait);
  const bool sent =
      have_remote ? emailer.SendRemoteUrlEmail(!up, remote) : emailer.SendAlertEmail(!up);
  std::printf("sent: %s\n", sent ? "yes" : "no");
  for (const std::string& address : emailer.Client().RefusedRecipients()) {
    std::printf("refused: %s\n", address.c_str());
  }
  return sent ? kExitOk : kExitFailure;
}

const SubCommandRegistrar kMailTest({"mail-test", "send the e-mail alert as the watchdog would",
                                     RunMailTest});

}  // namespace
}  // namespace snxctl

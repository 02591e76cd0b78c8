// snxctl probe: fetches a URL exactly as the watchdog tests its URLs and says whether the
// watchdog would count it good.

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/log_writer.h"
#include "ops/cert_watch.h"
#include "ops/ops_metrics.h"
#include "ops/url_outcome.h"
#include "platform/visible_text.h"
#include "probes/get_web_page.h"
#include "snxctl/kept_log.h"
#include "snxctl/status_view.h"
#include "snxctl/subcommand.h"

namespace snxctl {
namespace {

constexpr const char* kProbeHelp =
    "usage: snxctl probe [--connect-timeout SECONDS] [--timeout SECONDS] [--contains TEXT]...\n"
    "                    [--ca-file FILE] [--proxy PROXY] [--verbose] [--json] URL\n"
    "\n"
    "Fetches URL the way the watchdog tests a local or remote URL: one GET with the option \"D\",\n"
    "http or https, one redirect (301, 302, 303) followed, after which the answer must be\n"
    "200, and a password challenge (401) counted as a failure. Prints the fetch's result\n"
    "(0 an answer came, 1 refused URL or password, 2 failed redirect or no answer), the status\n"
    "code, whether the watchdog would count the URL good (result 0 and status 200..299), and\n"
    "the time the answer took to its last byte. Over https the certificate must be trusted by\n"
    "the system (or the CA file) and name the host; the probe says why it is not, or in how\n"
    "many days it expires.\n"
    "\n"
    "  --connect-timeout S  bound on making the connection (default 30)\n"
    "  --timeout S          bound on the whole fetch (default 60)\n"
    "  --contains TEXT      a good page must also contain TEXT (plain text, case-sensitive, in\n"
    "                       its first 1 MiB); !TEXT: must not contain it. As a [CONTENT] line\n"
    "                       of the settings; may be given more than once, all must hold\n"
    "  --ca-file FILE       trust the authorities of this PEM file besides the system's\n"
    "                       (as the setting CaFile does for the watchdog)\n"
    "  --proxy PROXY        go through this proxy (as the setting Proxy; default none)\n"
    "  --verbose            print the fetch's log lines to stderr even when the URL is good\n"
    "  --json               print the result as one JSON object (url, ok, result, status,\n"
    "                       error, response_ms, certificate, cert_days_left; docs/service.md)\n"
    "\n"
    "Exit status: 0 good, 1 not good, 2 bad arguments.\n";

// Seconds as a positive number of at most a day; false for anything else.
bool ParseSeconds(const std::string& text, std::chrono::milliseconds& out) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || end == nullptr || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
      seconds > 86400) {
    return false;
  }
  out = std::chrono::milliseconds(std::max<long long>(1, std::llround(seconds * 1000)));
  return true;
}

int RunProbe(const std::vector<std::string>& args) {
  std::chrono::milliseconds connect = CGetWebPage::kDefaultConnectTimeout;
  std::chrono::milliseconds total = CGetWebPage::kDefaultTotalTimeout;
  bool verbose = false;
  bool json = false;
  std::string url;
  std::string ca_file;
  std::string proxy;
  bool have_url = false;
  std::vector<std::string> contains;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kProbeHelp, stdout);
      return kExitOk;
    }
    if (a == "--verbose" || a == "-v") {
      verbose = true;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--contains") {
      if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1] == "!") {
        return UsageError("probe", "--contains needs a text (TEXT or !TEXT)");
      }
      contains.push_back(args[++i]);
    } else if (a == "--connect-timeout" || a == "--timeout") {
      if (i + 1 >= args.size() || !ParseSeconds(args[i + 1], a == "--timeout" ? total : connect)) {
        return UsageError("probe", a + " needs a number of seconds (0 < S <= 86400)");
      }
      ++i;
    } else if (a == "--ca-file" || a == "--proxy") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        return UsageError("probe", a + (a == "--proxy" ? " needs a proxy" : " needs a file"));
      }
      (a == "--proxy" ? proxy : ca_file) = args[++i];
      if (a == "--ca-file" && access(ca_file.c_str(), R_OK) != 0) {
        return UsageError("probe", "cannot read the CA file '" + ca_file + "'");
      }
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return UsageError("probe", "unknown option '" + a + "'");
    } else if (have_url) {
      return UsageError("probe", "one URL only");
    } else {
      url = a;
      have_url = true;
    }
  }
  if (!have_url) return UsageError("probe", "give a URL");

  KeptLog kept;
  CGetWebPage::SetTimeouts(connect, total);
  CGetWebPage::SetCaFile(ca_file);
  CGetWebPage::SetProxy(proxy);
  CUrlChecks checks;
  for (const std::string& text : contains) {
    const bool must = text.front() != '!';
    checks.content.push_back({url, must ? text : text.substr(1), must});
  }
  const CUrlOutcome outcome = TestUrl(url, checks);
  const bool good = outcome.good;
  const CertView cert =
      ViewCertificate(outcome, UnixSecondsOf(snx::platform::Use<snx::platform::Clock>()));

  if (json) {
    nlohmann::json out;
    out["url"] = snx::platform::VisibleText(url);
    out["ok"] = good;
    out["result"] = outcome.result;
    out["status"] = outcome.result <= 0 ? nlohmann::json(outcome.status) : nlohmann::json();
    const std::vector<std::string> errors = kept.Errors();
    std::string error;
    for (const std::string& line : errors) error += (error.empty() ? "" : "; ") + line;
    out["error"] = errors.empty() ? nlohmann::json() : nlohmann::json(error);
    out["response_ms"] = outcome.elapsed.count();
    out["certificate"] = cert.text.empty() ? nlohmann::json() : nlohmann::json(cert.text);
    out["cert_days_left"] = cert.days_left ? nlohmann::json(*cert.days_left) : nlohmann::json();
    PrintJson(out);
  } else {
    std::printf("url: %s\nresult: %d\nstatus code: %u\ngood: %s\ntime: %lld ms\n",
                snx::platform::VisibleText(url).c_str(), outcome.result,
                outcome.result <= 0 ? outcome.status : 1u,  // 1: the fetch got no answer
                good ? "yes" : "no", static_cast<long long>(outcome.elapsed.count()));
    if (!cert.text.empty()) std::printf("certificate: %s\n", cert.text.c_str());
    std::fflush(stdout);
  }
  if (verbose || (!good && !json)) {
    kept.Print();
  }
  return good ? kExitOk : kExitFailure;
}

const SubCommandRegistrar kProbe({"probe", "fetch a URL as the watchdog tests it", RunProbe});

}  // namespace
}  // namespace snxctl

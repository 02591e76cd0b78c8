// snxctl probe and snxctl procs as an administrator runs them: the probe against our own odd
// loopback server, against Python's http.server (a server this project did not write) and over
// https against a real TLS server with certificates made by openssl: each certificate's verdict
// and reason, the extra CA file, and the redirect from https to http refused.

#include <nlohmann/json.hpp>

#include "integration/service_rig.h"
#include "support/tls_peer.h"

namespace snx::test {
namespace {

std::string Report(const std::string& url, int result, int status, bool good) {
  return "url: " + url + "\nresult: " + std::to_string(result) +
         "\nstatus code: " + std::to_string(status) + "\ngood: " + (good ? "yes" : "no") + "\n";
}

TEST(SnxctlProbeTest, AnswersAreJudgedAsTheWatchdogWould) {
  TempDir dir;
  fs::create_directory(dir.File("docs"));
  dir.Write("docs/index.html", "<p>the docs</p>\n");
  // Python's own web server (Debian's python3 where it is installed), on a port it chose
  // itself; it listens before it says where.
  const std::string interpreter = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  Child python_server({interpreter, "-u", "-m", "http.server", "--bind", "127.0.0.1", "--directory",
                       dir.path(), "0"});
  std::string banner;  // "Serving HTTP on 127.0.0.1 port N (http://127.0.0.1:N/) ..."
  Eventually([&] { return (banner = python_server.Output()).find(") ...") != std::string::npos; },
             std::chrono::seconds(15));
  const auto at = banner.find("(http://");
  ASSERT_NE(at, std::string::npos) << "python's http.server did not start: " << banner;
  const std::string python = banner.substr(at + 1, banner.find(')', at) - at - 2);
  LoopbackHttpServer own([&](const std::string& head) {
    const std::string path = head.substr(4, head.find(' ', 4) - 4);  // "GET /path HTTP/1.1"
    if (path == "/ok") return LoopbackHttpServer::Answer(200, {}, "hello");
    if (path == "/moved")
      return LoopbackHttpServer::Answer(302, {"Location: " + python + "/docs/"});
    if (path == "/silent") return std::string();  // never a word
    if (path == "/big")
      return LoopbackHttpServer::Answer(200, {}, std::string(1 << 20, 'a') + "TAIL");
    return LoopbackHttpServer::Answer(404);
  });
  const std::string refused = [] {  // a port that was just closed
    LoopbackHttpServer gone([](const std::string&) { return std::string(); });
    return gone.Url();
  }();
  // The content check is a plain substring of the raw body, case-sensitive; all must hold.
  const auto failed = [](const std::string& url, const std::string& why) {
    return "Error: Content check failed for " + url + why;
  };
  const struct {
    std::string url;
    int result, status;
    std::string said;    // a line printed to stderr
    Args contains = {};  // --contains TEXT for each
  } cases[] = {
      {own.Url("/ok"), 0, 200, ""},
      {own.Url("/missing"), 0, 404, "(event): CGetWebPage::  Got status code 404"},
      {own.Url("/moved"), 0, 200, ""},  // to a page on Python's server
      // Gives up within the bound given: the run itself is cut off long before the default.
      {own.Url("/silent"), 2, 1, "Error: CGetWebPage::  WinINet Exception 28: "},
      {refused, 2, 1, "Error: CGetWebPage::  WinINet Exception 7: "},
      {"ftp" + refused.substr(4), 1, 1,
       "Error: CGetWebPage:: can only use URLs beginning with http:////"},
      // A folder without its "/" is answered by a 301 whose Location is the path alone.
      {python + "/docs", 0, 200, ""},
      {own.Url("/ok"),
       0,
       200,
       failed(own.Url("/ok"), ": the page does not contain \"Hello\""),
       {"ell", "Hello"}},
      {own.Url("/moved"), 0, 200, "", {"<p>the docs</p>"}},  // the page redirected to
      {own.Url("/missing"), 0, 404, "", {"!anything"}},
      {own.Url("/big"),
       0,
       200,
       failed(own.Url("/big"), ": the page does not contain \"TAIL\" (in its first 1 MiB"),
       {"TAIL"}},
  };
  for (const auto& c : cases) {
    Args args = {"probe", "--connect-timeout", "2", "--timeout", "2.5"};
    for (const std::string& text : c.contains) args.insert(args.end(), {"--contains", text});
    args.push_back(c.url);
    const auto run = Snxctl(args);
    const bool content_ok = c.said.find("Content check") == std::string::npos;
    const bool good = c.result == 0 && c.status / 100 == 2 && content_ok;
    const std::string report = Report(c.url, c.result, c.status, good);
    EXPECT_TRUE(Ran(run, good ? 0 : 1, {c.said}))
        << c.url << " " << ::testing::PrintToString(c.contains);
    EXPECT_EQ(run.out.substr(0, report.size()), report);
    EXPECT_EQ(run.out.find("Content check") == std::string::npos, content_ok) << run.out;
  }
  // --json: one object with the same verdict; a fetch that got no answer has no status and
  // says why.
  const auto ok = nlohmann::json::parse(Snxctl({"probe", "--json", own.Url("/ok")}).out);
  EXPECT_TRUE(ok["ok"] == true && ok["status"] == 200 && ok["error"].is_null() &&
              ok["response_ms"].is_number_integer())
      << ok;
  const auto run = Snxctl({"probe", "--json", refused});
  EXPECT_TRUE(Ran(run, 1));
  const auto gone = nlohmann::json::parse(run.out);
  EXPECT_TRUE(gone["ok"] == false && gone["result"] == 2 && gone["status"].is_null()) << run.out;
  EXPECT_THAT(gone["error"].get<std::string>(), HasSubstr("WinINet Exception 7"));
}

TEST(SnxctlProcsTest, ListsAndMatchesAProgram) {
  TempDir dir;
  const std::string program = CopyProgram(dir, "/bin/sleep", "snxprobe-worker.bin");
  Child worker({program, "30"});
  ASSERT_GT(worker.pid(), 0);
  const std::string pid = std::to_string(worker.pid());
  const std::string line =
      std::string(7 - pid.size(), ' ') + pid + "  snxprobe-worker       " + program + "\n";
  // An executable may be named with line ends and terminal escapes; it still shows as one row.
  Child hostile({CopyProgram(dir, "/bin/sleep", "evil\n  999  forged\x1b[2Jrow"), "30"});
  const std::string all = Snxctl({"procs"}).out;
  EXPECT_THAT(all, HasSubstr(line));
  EXPECT_THAT(all,
              HasSubstr(" " + std::to_string(hostile.pid()) + "  evil\\n  999  forged\\x1b[2Jrow"));
  EXPECT_TRUE(all.find('\x1b') == std::string::npos &&
              all.find("\n  999  forged") == std::string::npos);
  const struct {
    std::string text;
    int exit_code;
    std::string said;
  } cases[] = {
      {program, 0, "(same path):\n" + line},
      {"snxprobe-worker.bin", 0, "(text found inside the path):\n" + line},
      {dir.File("not-running.bin"), 1, "matches no running process"},
  };
  for (const auto& c : cases) EXPECT_TRUE(Ran(Snxctl({"procs", c.text}), c.exit_code, {c.said}));
}

TEST(SnxctlProbeHttpsTest, EachCertificateGetsItsVerdict) {
  TlsPeer peer;
  ASSERT_TRUE(peer.Ready()) << "the TLS peer did not start (openssl, python3)";
  const std::string ca = TlsPeer::CaFile();
  LoopbackHttpServer plain(
      [](const std::string&) { return LoopbackHttpServer::Answer(200, {}, "plain"); });
  const struct {
    std::string url;
    int result, status;
    std::string said;
  } cases[] = {
      {peer.Url("valid"), 0, 200, "certificate: expires in 365 days"},
      {peer.Url("expiring"), 0, 200, "certificate: expires in 3 days"},
      {peer.Url("expired"), 2, 1, "certificate: not trusted: expired"},
      {peer.Url("notyet"), 2, 1, "certificate: not trusted: not yet valid"},
      {peer.Url("wronghost"), 2, 1, "certificate: not trusted: host name mismatch"},
      {peer.Url("selfsigned"), 2, 1, "certificate: not trusted: self-signed"},
      {peer.Url("unknown"), 2, 1, "certificate: not trusted: unknown issuer"},
      // One redirect within https is followed; one down to http is refused.
      {peer.Url("valid", "/redirect?to=" + peer.Url("expiring")), 0, 200, "good: yes"},
      {peer.Url("valid", "/redirect?to=" + plain.Url()), 2, 1,
       "Error: CGetWebPage:: an https page redirected to http (refused): "},
  };
  for (const auto& c : cases) {
    const Args args = {"probe", "--timeout", "10", "--ca-file", ca, c.url};
    const bool good = c.result == 0 && c.status / 100 == 2;
    EXPECT_TRUE(Ran(Snxctl(args), good ? 0 : 1,
                    {"result: " + std::to_string(c.result) +
                         "\nstatus code: " + std::to_string(c.status) + "\n",
                     c.said}))
        << c.url;
  }
  EXPECT_EQ(plain.request_count(), 0);  // the downgrade was never fetched

  const auto json =
      nlohmann::json::parse(Snxctl({"probe", "--json", "--ca-file", ca, peer.Url("expiring")}).out);
  EXPECT_EQ(json["cert_days_left"], 3);
  // Not trusted without the CA file: the system's authorities do not know the test CA.
  const auto refused = nlohmann::json::parse(Snxctl({"probe", "--json", peer.Url("valid")}).out);
  EXPECT_EQ(refused["certificate"], "not trusted: unknown issuer");
  EXPECT_TRUE(refused["cert_days_left"].is_null());
}

// A proxy in the environment never takes a check; the one given does.
TEST(SnxctlProbeHttpsTest, OnlyTheProxyGivenIsUsed) {
  LoopbackHttpServer site(
      [](const std::string&) { return LoopbackHttpServer::Answer(200, {}, "site"); });
  LoopbackHttpServer proxy(
      [](const std::string&) { return LoopbackHttpServer::Answer(200, {}, "proxy"); });
  {
    ScopedEnv no_exceptions("no_proxy", nullptr), no_exceptions_too("NO_PROXY", nullptr);
    ScopedEnv environment("http_proxy", "http://127.0.0.1:9");
    EXPECT_EQ(Snxctl({"probe", site.Url()}).exit_code, 0);
  }
  EXPECT_EQ(Snxctl({"probe", "--proxy", "127.0.0.1:" + std::to_string(proxy.port()), site.Url()})
                .exit_code,
            0);
  EXPECT_EQ(site.request_count(), 1);
  ASSERT_EQ(proxy.request_count(), 1);
  EXPECT_THAT(proxy.requests()[0], HasSubstr("GET " + site.Url() + " HTTP/1.1"));
}

}  // namespace
}  // namespace snx::test

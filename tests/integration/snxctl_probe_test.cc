// snxctl probe and snxctl procs as an administrator runs them: the probe against our own odd
// loopback server and against Python's http.server, a server this project did not write.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "integration/subprocess.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

namespace {

using snx::test::LoopbackHttpServer;
using snx::test::Snxctl;
using ::testing::HasSubstr;
using ::testing::Not;
using Args = std::vector<std::string>;

// Loopback only: a proxy set in the environment must never take the tests' requests.
const bool kNoProxy = setenv("no_proxy", "*", 1) == 0;

std::string Report(const std::string& url, int result, int status, bool good) {
  return "url: " + url + "\nresult: " + std::to_string(result) +
         "\nstatus code: " + std::to_string(status) + "\ngood: " + (good ? "yes" : "no") + "\n";
}

TEST(SnxctlProbeTest, AnswersAreJudgedAsTheWatchdogWould) {
  snx::test::TempDir dir;
  std::filesystem::create_directory(dir.File("docs"));
  dir.Write("docs/index.html", "<p>the docs</p>\n");
  // Python's own web server (Debian's python3 where it is installed), on a port it chose
  // itself; it listens before it says where.
  const std::string interpreter =
      std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  snx::test::Child python_server({interpreter, "-u", "-m", "http.server", "--bind", "127.0.0.1",
                                  "--directory", dir.path(), "0"});
  std::string banner;  // "Serving HTTP on 127.0.0.1 port N (http://127.0.0.1:N/) ..."
  for (int i = 0; i < 300 && banner.find(") ...") == std::string::npos; ++i) {
    usleep(50000);
    banner = python_server.Output();
  }
  const auto at = banner.find("(http://");
  ASSERT_NE(at, std::string::npos) << "python's http.server did not start: " << banner;
  const std::string python = banner.substr(at + 1, banner.find(')', at) - at - 2);
  LoopbackHttpServer own([&](const std::string& head) {
    const std::string path = head.substr(4, head.find(' ', 4) - 4);  // "GET /path HTTP/1.1"
    if (path == "/ok") return LoopbackHttpServer::Answer(200, {}, "hello");
    if (path == "/moved")
      return LoopbackHttpServer::Answer(302, {"Location: " + python + "/docs/"});
    if (path == "/a/relative") return LoopbackHttpServer::Answer(302, {"Location: ../ok"});
    if (path == "/silent") return std::string();  // never a word
    if (path == "/big")
      return LoopbackHttpServer::Answer(200, {}, std::string(1 << 20, 'a') + "TAIL");
    return LoopbackHttpServer::Answer(404);
  });
  const std::string refused = [] {  // a port that was just closed
    LoopbackHttpServer gone([](const std::string&) { return std::string(); });
    return gone.Url();
  }();
  const struct {
    std::string url;
    int result, status;
    std::string log;  // a line printed to stderr
  } cases[] = {
      {own.Url("/ok"), 0, 200, ""},
      {own.Url("/missing"), 0, 404, "(event): CGetWebPage::  Got status code 404"},
      {own.Url("/moved"), 0, 200, ""},  // to a page on Python's server
      {own.Url("/a/relative"), 0, 200, ""},
      // Gives up within the bound given: the run itself is cut off long before the default.
      {own.Url("/silent"), 2, 1, "Error: CGetWebPage::  WinINet Exception 28: "},
      {refused, 2, 1, "Error: CGetWebPage::  WinINet Exception 7: "},
      {"ftp" + refused.substr(4), 1, 1,
       "Error: CGetWebPage:: can only use URLs beginning with http:////"},
      {python + "/no-such-page.html", 0, 404, ""},
      // A folder without its "/" is answered by a 301 whose Location is the path alone.
      {python + "/docs", 0, 200, ""},
  };
  for (const auto& c : cases) {
    const auto run = Snxctl({"probe", "--connect-timeout", "2", "--timeout", "2.5", c.url});
    const bool good = c.result == 0 && c.status / 100 == 2;
    const std::string report = Report(c.url, c.result, c.status, good);
    EXPECT_EQ(run.exit_code, good ? 0 : 1) << c.url;
    EXPECT_EQ(run.out.substr(0, report.size()), report);
    EXPECT_THAT(run.out, HasSubstr(c.log)) << c.url;
  }
  // The content check: a plain substring of the raw body, case-sensitive; all must hold.
  const struct {
    std::string url;
    Args contains;  // --contains TEXT for each
    int status;
    std::string failure;  // "": good when the status is
  } content[] = {
      {own.Url("/ok"), {"ell", "!bye"}, 200, ""},
      {own.Url("/ok"), {"ell", "Hello"}, 200, ": the page does not contain \"Hello\""},
      {own.Url("/ok"), {"!hello"}, 200, ": the page contains \"hello\""},
      {own.Url("/moved"), {"<p>the docs</p>"}, 200, ""},  // the page redirected to
      {own.Url("/missing"), {"!anything"}, 404, ""},
      {own.Url("/big"), {"TAIL"}, 200, ": the page does not contain \"TAIL\" (in its first 1 MiB"},
  };
  for (const auto& c : content) {
    Args args = {"probe"};
    for (const std::string& text : c.contains) args.insert(args.end(), {"--contains", text});
    args.push_back(c.url);
    const auto run = Snxctl(args);
    const bool good = c.status == 200 && c.failure.empty();
    EXPECT_EQ(run.exit_code, good ? 0 : 1) << c.url << " " << c.contains.back();
    const std::string report = Report(c.url, 0, static_cast<int>(c.status), good);
    EXPECT_EQ(run.out.substr(0, report.size()), report);
    if (!c.failure.empty()) {
      EXPECT_THAT(run.out, HasSubstr("Error: Content check failed for " + c.url + c.failure));
    } else {
      EXPECT_THAT(run.out, Not(HasSubstr("Content check"))) << c.url;
    }
  }
  // --json: one object with the same verdict; a fetch that got no answer has no status and
  // says why.
  const auto ok = nlohmann::json::parse(Snxctl({"probe", "--json", own.Url("/ok")}).out);
  EXPECT_EQ(ok["ok"], true);
  EXPECT_EQ(ok["status"], 200);
  EXPECT_TRUE(ok["error"].is_null() && ok["response_ms"].is_number_integer());
  const auto run = Snxctl({"probe", "--json", refused});
  EXPECT_EQ(run.exit_code, 1);
  const auto gone = nlohmann::json::parse(run.out);
  EXPECT_EQ(gone["ok"], false);
  EXPECT_EQ(gone["result"], 2);
  EXPECT_TRUE(gone["status"].is_null());
  EXPECT_THAT(gone["error"].get<std::string>(), HasSubstr("WinINet Exception 7"));
}

TEST(SnxctlProbeTest, UsageErrorsExitWithTwo) {
  for (const Args& args : std::vector<Args>{{"probe"},
                                            {"probe", "--timeout", "0", "http://h/"},
                                            {"probe", "--connect-timeout"},
                                            {"probe", "http://a/", "http://b/"},
                                            {"probe", "http://a/", "--contains"},
                                            {"probe", "--contains", "!", "http://a/"},
                                            {"procs", "--bogus"}}) {
    EXPECT_EQ(Snxctl(args).exit_code, 2) << args.back();
  }
}

TEST(SnxctlProcsTest, ListsAndMatchesAProgram) {
  snx::test::TempDir dir;
  const std::string program = dir.File("snxprobe-worker.bin");
  std::filesystem::copy_file("/bin/sleep", program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  snx::test::Child worker({program, "30"});
  ASSERT_GT(worker.pid(), 0);
  const std::string pid = std::to_string(worker.pid());
  const std::string line =
      std::string(7 - pid.size(), ' ') + pid + "  snxprobe-worker       " + program + "\n";
  EXPECT_THAT(Snxctl({"procs"}).out, HasSubstr(line));
  const struct {
    std::string text;
    int exit_code;
    std::string said;
  } cases[] = {
      {program, 0, "(same path):\n" + line},
      {"snxprobe-worker.bin", 0, "(text found inside the path):\n" + line},
      {dir.File("not-running.bin"), 1, "matches no running process"},
  };
  for (const auto& c : cases) {
    const auto run = Snxctl({"procs", c.text});
    EXPECT_EQ(run.exit_code, c.exit_code) << c.text;
    EXPECT_THAT(run.out, HasSubstr(c.said));
  }
}

TEST(SnxctlProcsTest, AHostileProcessNameIsOneEscapedRow) {
  snx::test::TempDir dir;
  // An executable may be named with line ends and terminal escapes; it still shows as one row.
  const std::string program = dir.File("evil\n  999  forged\x1b[2Jrow");
  std::filesystem::copy_file("/bin/sleep", program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  snx::test::Child worker({program, "30"});
  ASSERT_GT(worker.pid(), 0);
  const auto run = Snxctl({"procs"});
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
  EXPECT_THAT(run.out,
              HasSubstr(" " + std::to_string(worker.pid()) + "  evil\\n  999  forged\\x1b[2Jrow"));
  EXPECT_THAT(run.out, Not(HasSubstr("\n  999  forged")));
}

}  // namespace

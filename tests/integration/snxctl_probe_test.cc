// snxctl probe and snxctl procs as an administrator runs them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "integration/subprocess.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

namespace {

using snx::test::Child;
using snx::test::LoopbackHttpServer;
using ::testing::HasSubstr;

// Loopback only: a proxy set in the environment must never take the tests' requests.
const bool kNoProxy = setenv("no_proxy", "*", 1) == 0;

struct CtlRun {
  int exit_code;
  std::string out;
};

CtlRun Snxctl(std::vector<std::string> args, snx::test::Stderr err = snx::test::Stderr::kDrop) {
  args.insert(args.begin(), snx::test::SnxctlPath());
  Child child(args, err);
  CtlRun run{};
  run.exit_code = child.Finish(run.out, std::chrono::seconds(30));
  return run;
}

std::string Expected(const std::string& url, int result, int status, bool good) {
  return "url: " + url + "\nresult: " + std::to_string(result) +
         "\nstatus code: " + std::to_string(status) + "\ngood: " + (good ? "yes" : "no") + "\n";
}

TEST(SnxctlProbeTest, AnswersAsTheWatchdogWouldJudge) {
  LoopbackHttpServer other([](const std::string&) { return LoopbackHttpServer::Answer(200); });
  const std::string elsewhere = other.Url("/fine");
  LoopbackHttpServer server([&](const std::string& head) {
    const std::string path = LoopbackHttpServer::TargetOf(head);
    if (path == "/ok") return LoopbackHttpServer::Answer(200, {}, "hello");
    if (path == "/error") return LoopbackHttpServer::Answer(500);
    if (path == "/moved") return LoopbackHttpServer::Answer(302, {"Location: " + elsewhere});
    if (path == "/a/relative") return LoopbackHttpServer::Answer(302, {"Location: ../ok"});
    if (path == "/loop") return LoopbackHttpServer::Answer(301, {"Location: /loop"});
    if (path == "/private") return LoopbackHttpServer::Answer(401);
    if (path == "/nowhere") return LoopbackHttpServer::Answer(302);
    return LoopbackHttpServer::Answer(404);
  });
  const struct {
    std::string path;
    int result;
    int status;
    bool good;
  } cases[] = {
      {"/ok", 0, 200, true},       {"/missing", 0, 404, false},   {"/error", 0, 500, false},
      {"/moved", 0, 200, true},    {"/a/relative", 0, 200, true}, {"/loop", 2, 301, false},
      {"/private", 1, 401, false}, {"/nowhere", 2, 302, false},
  };
  for (const auto& c : cases) {
    const std::string url = server.Url(c.path);
    const CtlRun run = Snxctl({"probe", url});
    EXPECT_EQ(run.exit_code, c.good ? 0 : 1) << c.path;
    EXPECT_EQ(run.out, Expected(url, c.result, c.status, c.good)) << c.path;
  }
}

TEST(SnxctlProbeTest, UnreachableAndRefusedUrls) {
  std::uint16_t closed_port;
  {
    LoopbackHttpServer gone([](const std::string&) { return std::string(); });
    closed_port = gone.port();
  }
  const std::string refused = "http://127.0.0.1:" + std::to_string(closed_port) + "/";
  CtlRun run = Snxctl({"probe", refused}, snx::test::Stderr::kMerge);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr(Expected(refused, 2, 1, false)));
  EXPECT_THAT(run.out, HasSubstr("Error: CGetWebPage::  WinINet Exception 7: "));

  const std::string secure = "https://127.0.0.1:" + std::to_string(closed_port) + "/";
  run = Snxctl({"probe", secure}, snx::test::Stderr::kMerge);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr(Expected(secure, 1, 1, false)));
  EXPECT_THAT(run.out,
              HasSubstr("Error: CGetWebPage:: can only use URLs beginning with http:////"));
}

TEST(SnxctlProbeTest, SilentServerGivesUpWithinTheBound) {
  LoopbackHttpServer silent([](const std::string&) { return std::string(); });
  const std::string url = silent.Url("/");
  const auto start = std::chrono::steady_clock::now();
  const CtlRun run = Snxctl({"probe", "--connect-timeout", "1", "--timeout", "1.5", url},
                            snx::test::Stderr::kMerge);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr(Expected(url, 2, 1, false)));
  EXPECT_THAT(run.out, HasSubstr("WinINet Exception 28: "));
  // Not a timing assertion: only that it did not wait out the 60-second default.
  EXPECT_LT(took, std::chrono::seconds(30));
}

TEST(SnxctlProbeTest, UsageErrorsAndHelp) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"probe"},
                                             {"probe", "--timeout", "0", "http://h/"},
                                             {"probe", "--timeout"},
                                             {"probe", "--timeout", "x", "http://h/"},
                                             {"probe", "http://a/", "http://b/"},
                                             {"probe", "--bogus", "http://h/"},
                                             {"procs", "--bogus"},
                                             {"procs", "a", "b"}}) {
    EXPECT_EQ(Snxctl(args).exit_code, 2) << args.back();
  }
  const CtlRun help = Snxctl({"probe", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_THAT(help.out, HasSubstr("usage: snxctl probe"));
  EXPECT_EQ(Snxctl({"procs", "--help"}).exit_code, 0);
}

TEST(SnxctlProcsTest, ListsAndMatchesAProgram) {
  snx::test::TempDir dir;
  const std::string program = dir.File("snxprobe-worker.bin");
  std::filesystem::copy_file("/bin/sleep", program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  Child worker({program, "30"});
  ASSERT_GT(worker.pid(), 0);
  const std::string pid = std::to_string(worker.pid());

  CtlRun run = Snxctl({"procs"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_THAT(run.out, HasSubstr(pid + "  snxprobe-worker       " + program + "\n"));

  run = Snxctl({"procs", program});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_THAT(run.out, HasSubstr("(same path)"));
  EXPECT_THAT(run.out, HasSubstr(pid + "  snxprobe-worker"));

  run = Snxctl({"procs", "snxprobe-worker.bin"});  // the file name alone, found in the path
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_THAT(run.out, HasSubstr("(text found inside the path)"));
  EXPECT_THAT(run.out, HasSubstr(pid + "  snxprobe-worker"));

  run = Snxctl({"procs", dir.File("not-running.bin")});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr("matches no running process"));
}

}  // namespace

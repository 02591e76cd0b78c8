// snxctl pulse against HTTP servers on loopback, with the built QorPulse.dll.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>

#include "integration/subprocess.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

namespace {

using snx::test::LoopbackHttpServer;
using snx::test::Snxctl;
using Args = std::vector<std::string>;

// The watchdog's heartbeat line for the local time `ago` seconds back.
std::string BeatLine(std::time_t ago) {
  const std::time_t t = std::time(nullptr) - ago;
  std::tm parts{};
  localtime_r(&t, &parts);
  char line[64];
  std::strftime(line, sizeof line, "%m/%d/%y %H:%M:%S System working.\r\n", &parts);
  return line;
}

class SnxctlPulseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string bin = std::filesystem::path(snx::test::SnxctlPath()).parent_path().string();
    ASSERT_EQ(Snxctl({"register", "--dir", bin, "QorPulse.dll"}).exit_code, 0);
  }
  snx::test::CtlRun Pulse(Args args) {
    args.insert(args.begin(), {"pulse", "--dir", dir_.path()});
    return Snxctl(args);
  }

  snx::test::TempDir root_;
  snx::test::ScopedEnv env_{"SNX_ROOT", root_.path().c_str()};
  snx::test::TempDir dir_;
  LoopbackHttpServer ok_{[](const std::string&) { return LoopbackHttpServer::Answer(200); }};
  LoopbackHttpServer fail_{[](const std::string&) { return LoopbackHttpServer::Answer(200); }};
};

TEST_F(SnxctlPulseTest, AFreshHeartbeatPushesAndAStaleOneTellsTheFailUrl) {
  dir_.Write("Beat.txt", BeatLine(3600) + BeatLine(5));
  auto run = Pulse({"--url", ok_.Url("/push"), "--fail-url", fail_.Url("/fail")});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_EQ(ok_.request_count(), 1);
  EXPECT_EQ(fail_.request_count(), 0);
  EXPECT_NE(run.out.find("answered 200"), std::string::npos) << run.out;

  // Stale (the reasons are the heartbeat's own tests' business): the fail URL is told.
  dir_.Write("Beat.txt", BeatLine(3600));
  run = Pulse({"--max-age", "600", "--url", ok_.Url("/push"), "--fail-url", fail_.Url("/fail")});
  EXPECT_EQ(run.exit_code, 1) << run.out;
  EXPECT_NE(run.out.find("heartbeat stale: "), std::string::npos) << run.out;
  EXPECT_EQ(ok_.request_count(), 1);
  EXPECT_EQ(fail_.request_count(), 1);
  run = Pulse({"--max-age", "600", "--url", ok_.Url("/push")});
  EXPECT_EQ(run.exit_code, 1) << run.out;
  EXPECT_NE(run.out.find("nothing pushed"), std::string::npos) << run.out;
  EXPECT_EQ(ok_.request_count(), 1);
}

TEST_F(SnxctlPulseTest, CredentialsAndFragmentsStayHomeAndOneRedirectIsFollowed) {
  LoopbackHttpServer mover([this](const std::string&) {
    return LoopbackHttpServer::Answer(302, {"Location: " + ok_.Url("/moved?k=2#x")});
  });
  dir_.Write("Beat.txt", BeatLine(0));
  // Line ends and blanks in the query must not open a header line of their own.
  std::string url = mover.Url("/push?k=1 HTTP/1.0\r\nX-Smuggled: 1#frag");
  url.insert(7, "user:secret@");
  const auto run = Pulse({"--url", url});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  ASSERT_EQ(mover.request_count(), 1);
  ASSERT_EQ(ok_.request_count(), 1);
  EXPECT_EQ(
      mover.requests()[0].rfind("GET /push?k=1%20HTTP/1.0%0D%0AX-Smuggled:%201 HTTP/1.1\r\n", 0),
      0u)
      << mover.requests()[0];
  EXPECT_EQ(ok_.requests()[0].rfind("GET /moved?k=2 HTTP/1.1\r\n", 0), 0u) << ok_.requests()[0];
  for (const auto& head : {mover.requests()[0], ok_.requests()[0]}) {
    EXPECT_EQ(head.find("Authorization"), std::string::npos) << head;
    EXPECT_EQ(head.find("secret"), std::string::npos) << head;
    EXPECT_EQ(head.find("\nX-Smuggled"), std::string::npos) << head;
  }
  EXPECT_EQ(run.out.find("secret"), std::string::npos) << run.out;
}

TEST_F(SnxctlPulseTest, APushThatIsNeverAnsweredFailsWithinItsBound) {
  LoopbackHttpServer silent([](const std::string&) { return std::string(); });
  dir_.Write("Beat.txt", BeatLine(0));
  const auto start = std::chrono::steady_clock::now();
  const auto run = Pulse({"--url", silent.Url("/push")});
  EXPECT_EQ(run.exit_code, 1) << run.out;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_NE(run.out.find("push failed: "), std::string::npos) << run.out;
}

TEST_F(SnxctlPulseTest, TheUrlsComeFromTheSettingsAndWithoutOneNothingRuns) {
  const auto unset = Pulse({});
  EXPECT_EQ(unset.exit_code, 2);
  EXPECT_NE(unset.out.find("no push URL configured"), std::string::npos) << unset.out;
  dir_.Write("Beat.txt", BeatLine(0));
  ASSERT_EQ(Snxctl({"conf", "--dir", dir_.path(), "set", "PulseUrl", ok_.Url("/from-settings")})
                .exit_code,
            0);
  const auto run = Pulse({});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  ASSERT_EQ(ok_.request_count(), 1);
  EXPECT_EQ(ok_.requests()[0].rfind("GET /from-settings ", 0), 0u);
  EXPECT_EQ(Pulse({"--max-age", "x"}).exit_code, 2);
}

}  // namespace

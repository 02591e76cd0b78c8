// snxctl cycle against a real web server on loopback: the decision for a healthy site, a
// site that fails, and one that fails after the restarts allowed; remote failures decide
// nothing; the settings file is left as it was.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "files/settings_file_writer.h"
#include "integration/subprocess.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

namespace snx::test {
namespace {

using ::testing::HasSubstr;
using Args = std::vector<std::string>;

class SnxctlCycle : public ::testing::Test {
 protected:
  SnxctlCycle()
      : server_([this](const std::string& head) {
          const bool good = head.rfind("GET /far", 0) == 0 ? far_good_.load() : local_good_.load();
          return std::string(good ? "HTTP/1.1 200 OK" : "HTTP/1.1 500 Oops") +
                 "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        }) {}
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(server_.port()) + path;
  }
  void Write() {
    WriteSettings(dir_,
                  {"[KEYS]", "AdminId=a", "Password=p", "MachineName=HOST", "RestartsB4Reboot=2",
                   "SvrStatus=Restarting", "[URLS]", Url("/a"), Url("/b"), "[RURLS]", Url("/far")});
  }
  CtlRun Cycle(Args args = {}) {
    args.insert(args.begin(), {"cycle", "--dir", dir_.path()});
    return Snxctl(args);
  }

  std::atomic<bool> local_good_{true};
  std::atomic<bool> far_good_{true};
  TempDir dir_;
  LoopbackHttpServer server_;
};

TEST_F(SnxctlCycle, DecidesUpRestartOrRebootAndChangesNothing) {
  Write();
  const std::string before = dir_.Read("AutoSet.caf");
  far_good_ = false;
  const auto up = Cycle();
  EXPECT_EQ(up.exit_code, 0) << up.out;
  EXPECT_THAT(up.out, HasSubstr("local URL " + Url("/a") + ": good (200)"));
  EXPECT_THAT(up.out, HasSubstr("remote URL " + Url("/far") + ": FAILED (status 500)"));
  EXPECT_THAT(up.out, HasSubstr("detection section: not run (UseIni is off)"));
  EXPECT_THAT(up.out, HasSubstr("decision: up"));

  local_good_ = false;
  const auto down = Cycle();
  EXPECT_EQ(down.exit_code, 1) << down.out;
  EXPECT_THAT(down.out, HasSubstr("local URL " + Url("/a") + ": FAILED (status 500)"));
  EXPECT_THAT(down.out, HasSubstr("local URL " + Url("/b") + ": not tested in this pass"));
  EXPECT_THAT(down.out, HasSubstr("decision: restart"));

  const auto reboot = Cycle({"--restarts", "2"});
  EXPECT_EQ(reboot.exit_code, 1) << reboot.out;
  EXPECT_THAT(reboot.out, HasSubstr("decision: reboot"));

  EXPECT_EQ(dir_.Read("AutoSet.caf"), before);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("Uptime.log")));
}

TEST_F(SnxctlCycle, UsageAndMissingSettings) {
  for (const Args& bad : {Args{"--restarts"}, Args{"--restarts", "x"}, Args{"--bogus"}}) {
    EXPECT_EQ(Cycle(bad).exit_code, 2);
  }
  const auto missing = Cycle();
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_THAT(missing.out, HasSubstr("cannot be read"));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("AutoSet.caf")));
}

}  // namespace
}  // namespace snx::test

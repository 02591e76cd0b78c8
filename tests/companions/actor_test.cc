#include "actor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

using snx::platform::ComPtr;
using snx::platform::Variant;
using snx::test::FileLines;

// A temporary install folder whose web-server reset only records that it ran.
class ActorTest : public testing::Test {
 protected:
  ActorTest() {
    snx::test::WriteScript(dir_, "iisreset", "echo \"reset $*\" >> \"$(dirname \"$0\")/resets\"\n");
  }
  std::int32_t Configure(Variant program, Variant act, Variant repeat, Variant timeout) {
    std::int32_t accepted = 0;
    actor_->Configure(&program, &act, &repeat, &timeout, &accepted);
    return accepted;
  }
  std::int32_t Configure(std::int32_t timeout_ms) {
    return Configure(Variant::Text("Iisreset.exe"), Variant::Bool(true), Variant::Bool(false),
                     Variant::Int(timeout_ms));
  }
  std::int32_t Phase(snx::platform::HRESULT (CActor::*method)(std::int32_t*)) {
    std::int32_t answer = 0;
    (actor_.Get()->*method)(&answer);
    return answer;
  }
  std::size_t Resets() const { return FileLines(dir_, "resets").size(); }
  std::vector<std::string> Log() const { return FileLines(dir_, CActor::kLogName); }

  snx::test::TempDir dir_;
  std::unique_ptr<snx::platform::Launcher> launcher_ =
      snx::platform::NewPosixLauncher({dir_.path() + "/", nullptr, nullptr});
  ComPtr<CActor> actor_ = ComPtr<CActor>::Attach(
      new CActor(*launcher_, snx::platform::Use<snx::platform::Clock>(), dir_.path() + "/"));
};

// The overrun of a phase with the watchdog's set-up: tests/recovery/assurance_plugin_test.cc.

TEST_F(ActorTest, PhasesThatEndInTimeRunNothing) {
  ASSERT_EQ(Configure(10000), -1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Phase(&CActor::BeginPhase), -1);
    EXPECT_EQ(Phase(&CActor::EndPhase), -1);
  }
  EXPECT_EQ(Phase(&CActor::EndPhase), 0) << "no phase is open";
  EXPECT_EQ(Resets(), 0u);
}

TEST_F(ActorTest, ABadSetUpIsRefusedAndArmsNothing) {
  const Variant yes = Variant::Bool(true);
  const Variant program = Variant::Text("Iisreset.exe");
  const struct {
    Variant program, act, timeout;
  } cases[] = {
      {Variant::Text(""), yes, Variant::Int(100)},
      {Variant::Text("Iisreset.exe\n"), yes, Variant::Int(100)},
      {program, yes, Variant::Int(0)},
      {program, yes, Variant::Text("x")},
      {program, Variant(), Variant::Int(100)},
  };
  for (const auto& c : cases) EXPECT_EQ(Configure(c.program, c.act, yes, c.timeout), 0);
  EXPECT_EQ(Phase(&CActor::BeginPhase), 0);
  EXPECT_EQ(Phase(&CActor::EndPhase), 0);
  EXPECT_EQ(Log().size(), std::size(cases)) << "one line per refusal";
}

}  // namespace

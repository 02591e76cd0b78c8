#include "actor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "companion_test_support.h"

namespace {

using snx::platform::ComPtr;
using snx::platform::Variant;
using snx::test::Eventually;
using snx::test::FileLines;
using testing::HasSubstr;

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
  std::int32_t Configure(std::int32_t timeout_ms, bool repeat = false) {
    return Configure(Variant::Text("Iisreset.exe"), Variant::Bool(true), Variant::Bool(repeat),
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

TEST_F(ActorTest, APhaseThatOverrunsItsTimeOutResetsTheWebServerOnce) {
  ASSERT_EQ(Configure(50), -1);
  ASSERT_EQ(Phase(&CActor::BeginPhase), -1);
  ASSERT_TRUE(Eventually([&] { return Resets() == 1; }));
  // Several more time-outs pass: the phase is still open, and the reset is not repeated.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Resets(), 1u);
  EXPECT_EQ(actor_->Actions(), 1);
  EXPECT_EQ(Phase(&CActor::EndPhase), 0) << "the phase overran";

  const auto log = Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_THAT(log[1], HasSubstr("phase 1 overran its time-out of 50 ms; running \"Iisreset.exe\""));
  EXPECT_THAT(log[2], HasSubstr("\"Iisreset.exe\" exited with 0"));
  EXPECT_THAT(log[3], HasSubstr("phase 1 ended after its time-out"));
}

TEST_F(ActorTest, PhasesThatEndInTimeRunNothing) {
  ASSERT_EQ(Configure(10000), -1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Phase(&CActor::BeginPhase), -1);
    EXPECT_EQ(Phase(&CActor::EndPhase), -1);
  }
  EXPECT_EQ(Phase(&CActor::EndPhase), 0) << "no phase is open";
  // A short time-out set afterwards applies to the next phase only; none is open.
  ASSERT_EQ(Configure(20), -1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(Resets(), 0u);
}

TEST_F(ActorTest, TheSecondSwitchRepeatsTheResetAfterEveryFurtherTimeOut) {
  ASSERT_EQ(Configure(30, true), -1);
  ASSERT_EQ(Phase(&CActor::BeginPhase), -1);
  ASSERT_TRUE(Eventually([&] { return Resets() >= 2; }));
  Phase(&CActor::EndPhase);
  const std::size_t after_end = Resets();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_LE(Resets(), after_end + 1) << "at most the reset already under way";
}

TEST_F(ActorTest, ABadSetUpIsRefusedAndArmsNothing) {
  const struct {
    Variant program, act, repeat, timeout;
  } cases[] = {
      {Variant::Text(""), Variant::Bool(true), Variant::Bool(false), Variant::Int(100)},
      {Variant::Text("Iisreset.exe\n"), Variant::Bool(true), Variant::Bool(false), Variant::Int(100)},
      {Variant::Text("Iisreset.exe"), Variant::Bool(true), Variant::Bool(false), Variant::Int(0)},
      {Variant::Text("Iisreset.exe"), Variant::Bool(true), Variant::Bool(false), Variant::Int(-5)},
      {Variant::Text("Iisreset.exe"), Variant::Bool(true), Variant::Bool(false), Variant::Text("x")},
      {Variant::Text("Iisreset.exe"), Variant(), Variant::Bool(false), Variant::Int(100)},
  };
  for (const auto& c : cases) EXPECT_EQ(Configure(c.program, c.act, c.repeat, c.timeout), 0);
  EXPECT_EQ(Phase(&CActor::BeginPhase), 0);
  EXPECT_EQ(Phase(&CActor::EndPhase), 0);
  EXPECT_EQ(Log().size(), std::size(cases));
}

TEST_F(ActorTest, WithActingSwitchedOffAnOverrunIsOnlyLogged) {
  ASSERT_EQ(Configure(Variant::Text("Iisreset.exe"), Variant::Bool(false), Variant::Bool(false),
                      Variant::Int(20)),
            -1);
  Phase(&CActor::BeginPhase);
  ASSERT_TRUE(Eventually([&] { return Log().size() == 2; }));
  EXPECT_THAT(Log()[1], HasSubstr("acting is switched off"));
  EXPECT_EQ(Resets(), 0u);
}

}  // namespace

#include "recovery/insurer.h"

#include <gtest/gtest.h>

#include "components/fake/fake_actor.h"
#include "components/fake/fake_component_factory.h"
#include "support/test_support.h"

namespace {

using snx::platform::ComPtr;
using snx::platform::FakeActor;
using snx::platform::Variant;

class InsurerTest : public testing::Test {
 protected:
  void Register() {
    factory_.AddClass({snx::platform::CLSID_Actor, snx::platform::kActorProgId, "Actor"},
                      [this]() -> snx::platform::IUnknown* {
                        actor_ = ComPtr<FakeActor>::Attach(new FakeActor());
                        actor_->configure_answer = configure_answer_;
                        actor_->AddRef();
                        return actor_.Get();
                      });
  }

  snx::test::CapturingLog log_;
  snx::platform::FakeComponentFactory factory_;
  ComPtr<FakeActor> actor_;
  std::int32_t configure_answer_ = -1;
  CInsurer insurer_{factory_};
};

TEST_F(InsurerTest, WithoutTheComponentTheWatchdogWorksOnAndPhasesAnswerNo) {
  EXPECT_TRUE(insurer_.Initialize());
  EXPECT_FALSE(insurer_.HasComponent());
  EXPECT_TRUE(log_.HasError("CInsurer::3"));
  EXPECT_TRUE(log_.HasError("CInsurer::CreateInsurer failed."));
  EXPECT_FALSE(insurer_.BeginPhase());
  EXPECT_FALSE(insurer_.EndPhase());
}

TEST_F(InsurerTest, SetUpHandsOverTheResetProgramSwitchesAndTimeOut) {
  Register();
  insurer_.SetTimeOut(45000);
  ASSERT_TRUE(insurer_.Initialize());
  EXPECT_EQ(actor_->Program(), Variant::Text("Iisreset.exe"));
  EXPECT_EQ(actor_->Switch(1), Variant::Bool(true));
  EXPECT_EQ(actor_->Switch(2), Variant::Bool(false));
  EXPECT_EQ(actor_->TimeOut(), Variant::Int(45000));
  EXPECT_TRUE(log_.HasEvent("CInsurer::8"));
  EXPECT_TRUE(log_.Errors().empty());
  EXPECT_TRUE(insurer_.BeginPhase());
  actor_->phase_answer = 0;
  EXPECT_FALSE(insurer_.EndPhase());

  insurer_.ReleaseInsurer();
  EXPECT_EQ(actor_->RefCount(), 1u) << "the client keeps no reference";
  EXPECT_FALSE(insurer_.BeginPhase());
  EXPECT_EQ(actor_->Begins(), 1);
}

TEST_F(InsurerTest, ARefusedSetUpIsLoggedAndTheComponentStillServesThePhases) {
  configure_answer_ = 0;
  Register();
  EXPECT_TRUE(insurer_.Initialize());
  EXPECT_TRUE(log_.HasError("CInsurer::CreateInsurer failed."));
  EXPECT_TRUE(insurer_.BeginPhase());
}

}  // namespace

#include "recovery/insurer.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_actor.h"
#include "platform/fake/fake_component_factory.h"
#include "support/test_support.h"

namespace {

using snx::platform::ComPtr;
using snx::platform::FakeActor;
using snx::platform::Variant;

class InsurerTest : public testing::Test {
 protected:
  void Register(std::int32_t configure_answer) {
    factory_.AddClass({snx::platform::CLSID_Actor, snx::platform::kActorProgId, "Actor"},
                      [this, configure_answer]() -> snx::platform::IUnknown* {
                        actor_ = ComPtr<FakeActor>::Attach(new FakeActor());
                        actor_->configure_answer = configure_answer;
                        actor_->AddRef();
                        return actor_.Get();
                      });
  }

  snx::test::CapturingLog log_;
  snx::platform::FakeComponentFactory factory_;
  ComPtr<FakeActor> actor_;
  CInsurer insurer_{factory_};
};

TEST_F(InsurerTest, WithoutTheComponentTheWatchdogWorksOnAndPhasesAnswerNo) {
  EXPECT_TRUE(insurer_.Initialize());
  EXPECT_TRUE(insurer_.IsInitialized());
  EXPECT_FALSE(insurer_.HasComponent());
  EXPECT_TRUE(log_.HasError("CInsurer::3"));
  EXPECT_TRUE(log_.HasError("CInsurer::CreateInsurer failed."));
  EXPECT_FALSE(insurer_.BeginPhase());
  EXPECT_FALSE(insurer_.EndPhase());
}

TEST_F(InsurerTest, SetUpHandsOverTheResetProgramSwitchesAndTimeOut) {
  Register(-1);
  insurer_.SetTimeOut(45000);
  ASSERT_TRUE(insurer_.Initialize());
  EXPECT_EQ(actor_->Configured(), 1);
  EXPECT_EQ(actor_->Program(), Variant::Text("Iisreset.exe"));
  EXPECT_EQ(actor_->Switch(1), Variant::Bool(true));
  EXPECT_EQ(actor_->Switch(2), Variant::Bool(false));
  EXPECT_EQ(actor_->TimeOut(), Variant::Int(45000));
  EXPECT_TRUE(log_.HasEvent("CInsurer::8"));
  EXPECT_TRUE(log_.Errors().empty());

  EXPECT_TRUE(insurer_.BeginPhase());
  actor_->phase_answer = 0;
  EXPECT_FALSE(insurer_.EndPhase());
  EXPECT_EQ(actor_->Begins(), 1);
  EXPECT_EQ(actor_->Ends(), 1);

  insurer_.ReleaseInsurer();
  EXPECT_EQ(actor_->RefCount(), 1u) << "the client keeps no reference";
  EXPECT_FALSE(insurer_.BeginPhase());
  EXPECT_EQ(actor_->Begins(), 1);
}

TEST_F(InsurerTest, ARefusedSetUpIsLoggedAndTheComponentStillServesThePhases) {
  Register(0);
  EXPECT_TRUE(insurer_.Initialize());
  EXPECT_EQ(actor_->TimeOut(), Variant::Int(CInsurer::kDefaultTimeOut));
  EXPECT_TRUE(log_.HasError("CInsurer::CreateInsurer failed."));
  EXPECT_FALSE(log_.HasEvent("CInsurer::8"));
  EXPECT_TRUE(insurer_.BeginPhase());
  EXPECT_EQ(actor_->Begins(), 1);
}

}  // namespace

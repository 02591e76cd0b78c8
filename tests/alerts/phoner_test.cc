#include "alerts/phoner.h"

#include <gmock/gmock.h>

#include "components/fake/fake_component_factory.h"
#include "components/fake/fake_voice_alert.h"
#include "platform/fake/fake_clock.h"
#include "support/test_support.h"

namespace {

using snx::platform::ComPtr;
using snx::platform::FakeVoiceAlert;
using testing::ElementsAre;

class PhonerTest : public testing::Test {
 protected:
  PhonerTest() {
    factory_.AddClass({snx::platform::CLSID_VoiceAlert, snx::platform::kVoiceAlertProgId, "VA"},
                      [this]() -> snx::platform::IUnknown* {
                        alert_ = ComPtr<FakeVoiceAlert>::Attach(new FakeVoiceAlert());
                        alert_->configure_result = configure_result_;
                        alert_->AddRef();
                        return alert_.Get();
                      });
    settings_.m_sMsgDown.Assign("web shop down");
    settings_.m_sMsgUp.Assign("web shop up");
    const char* numbers[][2] = {{"111", "Ann"}, {"222", "Zoe"}, {"333", "Bob"}};
    for (int i = 0; i < 3; ++i) {
      settings_.m_sPNum[i].Assign(numbers[i][0]);
      settings_.m_sPName[i].Assign(numbers[i][1]);
      settings_.m_bPE[i] = i != 1;  // Zoe's number is not in use
    }
    settings_.m_bPAck = true;
    phoner_.SetFolder("/opt/snxsvc/");
  }
  // Initialized, with the calls of the creation forgotten.
  FakeVoiceAlert& Ready() {
    EXPECT_TRUE(phoner_.Initialize(&settings_));
    mark_ = alert_->Calls().size();
    return *alert_.Get();
  }
  // The component calls since Ready(), without the call-state questions.
  std::vector<std::string> CallsSinceReady() const {
    std::vector<std::string> out;
    const auto all = alert_->Calls();
    for (std::size_t i = mark_; i < all.size(); ++i) {
      if (all[i] != "GetCallState") out.push_back(all[i]);
    }
    return out;
  }

  snx::test::CapturingLog log_;
  snx::platform::FakeClock clock_;
  snx::platform::FakeComponentFactory factory_;
  ComPtr<FakeVoiceAlert> alert_;  // the newest component, as the test sees it
  CAllSets settings_;
  CPhoner phoner_{factory_, clock_};
  std::size_t mark_ = 0;
  std::int32_t configure_result_ = -1;
};

TEST_F(PhonerTest, DownMessageGivesEveryNumberInUseThenWaitsForTheCalls) {
  FakeVoiceAlert& alert = Ready();
  alert.call_states = {1002, 1001, 1001, 1002};  // before; after the send: two polls, then done
  EXPECT_TRUE(phoner_.SetMessageType(PHONE_MSG_SERVER_DOWN));
  EXPECT_TRUE(phoner_.SendDownMessage());
  EXPECT_THAT(CallsSinceReady(),
              ElementsAre("SetMessageType Server is down.", "SetAcknowledge -1", "CheckReady",
                          "AddPhoneAddress Ann 111", "AddPhoneAddress Bob 333",
                          "SetMessage web shop down", "SendAlerts"));
  EXPECT_EQ(phoner_.LastDeliveredType(), PHONE_MSG_SERVER_DOWN);
  EXPECT_THAT(log_.Messages(),
              ElementsAre("Delivered Phone Message:  'Server Down: web shop down'."));
  phoner_.SetMessageType(1009);  // outside the table: an empty text
  EXPECT_EQ(alert.Calls().back(), "SetMessageType ");
}

TEST_F(PhonerTest, CustomMessagesNeedATextAndNobodyIsCalledWithoutANumberInUse) {
  Ready();
  EXPECT_FALSE(phoner_.SendCustomMessage(""));
  EXPECT_THAT(log_.Errors(), ElementsAre("CPhoner::SendCustomMessage() failed."));
  EXPECT_TRUE(phoner_.SendCustomMessage("site failed"));
  EXPECT_THAT(log_.Messages(), ElementsAre("Delivered Phone Message: 'site failed'."));

  for (bool& in_use : settings_.m_bPE) in_use = false;
  const std::size_t before = alert_->Calls().size();
  EXPECT_TRUE(phoner_.SendUpMessage());
  EXPECT_EQ(alert_->Calls().size(), before);
}

TEST_F(PhonerTest, FailuresOfTheSendAreReportedWithTheirLines) {
  struct Case {
    void (*script)(FakeVoiceAlert&);
    std::vector<std::string> errors;
    bool delivered_line;
    int addresses;  // numbers given to the component: none after a refusal
  };
  const std::string up_failed = "CPhoner::SendUpMessage() failed.";
  const std::string setup_failed = "CPhoner::SetUpPhoner() failed.";
  // clang-format off
  const Case cases[] = {
      {[](FakeVoiceAlert& a) { a.refused_numbers = {"111"}; }, {"CPhoner::AddPhoneAddress failed.", setup_failed, up_failed}, false, 1},
      {[](FakeVoiceAlert& a) { a.ready_result = 0; }, {setup_failed, up_failed}, false, 0},
      {[](FakeVoiceAlert& a) { a.send_result = 0; }, {"CPhoner::SendAlerts() failed.", up_failed}, false, 2},
      {[](FakeVoiceAlert& a) { a.final_state = 1003; }, {up_failed}, true, 2},
  };
  // clang-format on
  for (const auto& c : cases) {
    FakeVoiceAlert& alert = Ready();
    c.script(alert);
    log_.Clear();
    EXPECT_FALSE(phoner_.SendUpMessage());
    EXPECT_EQ(log_.Errors(), c.errors);
    EXPECT_EQ(log_.Messages().size(), c.delivered_line ? 1u : 0u);
    EXPECT_EQ(alert.CountOf("AddPhoneAddress"), c.addresses);
  }
}

TEST_F(PhonerTest, CallsAreWaitedForInFiveSecondStepsAtMostTenMinutesOrUntilAStop) {
  FakeVoiceAlert& alert = Ready();
  alert.call_states = {1001, 1001, 1001, 1002};
  EXPECT_TRUE(phoner_.WaitForCallCompletion());
  const auto events = log_.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "CPhoner::WaitForCallCompletion waits 5 sec."),
            3);
  EXPECT_EQ(clock_.total_slept(), std::chrono::seconds(15));

  alert.final_state = 1001;  // calls that never end
  auto start = clock_.MonoNow();
  EXPECT_FALSE(phoner_.WaitForCallCompletion());
  EXPECT_EQ(clock_.MonoNow() - start, std::chrono::minutes(10));
  EXPECT_TRUE(log_.HasError(
      "CPhoner::WaitForCallCompletion() gave up after 10 minutes; calls may still run."));

  // A stop is seen at the next 1-second sleep; the busy component then refuses the set-up,
  // so no calls pile up on the running ones.
  int polls = 0;
  phoner_.SetStopPredicate([&] { return ++polls > 2; });
  alert.ready_result = 0;
  start = clock_.MonoNow();
  EXPECT_FALSE(phoner_.SendDownMessage());
  EXPECT_EQ(clock_.MonoNow() - start, std::chrono::seconds(2));
  EXPECT_TRUE(
      log_.HasError("CPhoner::WaitForCallCompletion() ended by a stop; calls may still run."));
  EXPECT_EQ(alert.CountOf("SendAlerts"), 0);
}

TEST_F(PhonerTest, WithoutAComponentNothingIsCalledAndEverySendFails) {
  factory_.FailCreation(snx::platform::CLSID_VoiceAlert, snx::platform::REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(phoner_.Initialize(&settings_));
  EXPECT_TRUE(log_.HasError("CPhoner::CreateVoiceAlert failed."));
  EXPECT_FALSE(phoner_.ReadStatus());
  EXPECT_FALSE(phoner_.SendDownMessage());
  EXPECT_TRUE(log_.HasError("CPhoner::SetUpPhoner() failed."));
}

TEST_F(PhonerTest, ARefusedConfigurationLeavesTheComponentNotFullyInitialized) {
  configure_result_ = 0;
  EXPECT_TRUE(phoner_.Initialize(&settings_));
  EXPECT_EQ(alert_->Calls().front(), "Configure /opt/snxsvc/");
  EXPECT_FALSE(phoner_.Status(4));

  alert_->status[1] = 0;
  mark_ = alert_->Calls().size();
  ASSERT_TRUE(phoner_.ReadStatus());
  EXPECT_THAT(CallsSinceReady(),
              ElementsAre("GetStatus 1008", "GetStatus 1009", "GetStatus 1010", "GetStatus 1011"));
  EXPECT_EQ(std::tuple(phoner_.Status(1), phoner_.Status(2), phoner_.Status(4)),
            std::tuple(true, false, true));
}

TEST_F(PhonerTest, InitializeAgainEndsTheOldComponentsCallsAndReplacesIt) {
  Ready();
  const ComPtr<FakeVoiceAlert> old = alert_;
  ASSERT_TRUE(phoner_.Initialize(&settings_));
  EXPECT_NE(alert_.Get(), old.Get());
  EXPECT_EQ(old->CountOf("ResetCallState 1001"), 1);
  EXPECT_EQ(old->RefCount(), 1u) << "the client holds no reference to the old component";
  phoner_.ReleaseVoiceAlert();
  EXPECT_EQ(alert_->RefCount(), 1u);
}

}  // namespace

#include "alerts/phoner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_component_factory.h"
#include "platform/fake/fake_voice_alert.h"
#include "support/test_support.h"

namespace {

using snx::platform::ComPtr;
using snx::platform::FakeVoiceAlert;
using testing::ElementsAre;
using testing::IsEmpty;

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
    UseNumber(1, "111", "Ann");
    UseNumber(3, "333", "Bob");
    settings_.m_sPNum[1].Assign("222");  // a number that is not in use
    settings_.m_bPAck = true;
    phoner_.SetFolder("/opt/snxsvc/");
  }

  void UseNumber(int n, const char* number, const char* name) {
    settings_.m_bPE[n - 1] = true;
    settings_.m_sPNum[n - 1].Assign(number);
    settings_.m_sPName[n - 1].Assign(name);
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
  EXPECT_THAT(log_.Messages(), ElementsAre("Delivered Phone Message:  'Server Down: web shop down'."));
  EXPECT_THAT(log_.Errors(), IsEmpty());
}

TEST_F(PhonerTest, NoNumberInUseSendsNothingAndCountsAsDone) {
  for (bool& in_use : settings_.m_bPE) in_use = false;
  Ready();
  EXPECT_TRUE(phoner_.SendUpMessage());
  EXPECT_TRUE(phoner_.SendCustomMessage("x"));
  EXPECT_THAT(CallsSinceReady(), IsEmpty());
}

TEST_F(PhonerTest, FailuresOfTheSendAreReportedWithTheirLines) {
  struct Case {
    const char* name;
    void (*script)(FakeVoiceAlert&);
    std::vector<std::string> errors;
    bool delivered_line;
  };
  const std::vector<Case> cases = {
      {"refused number stops the set-up",
       [](FakeVoiceAlert& a) { a.refused_numbers = {"111"}; },
       {"CPhoner::AddPhoneAddress failed.", "CPhoner::SetUpPhoner() failed.",
        "CPhoner::SendUpMessage() failed."},
       false},
      {"component not ready", [](FakeVoiceAlert& a) { a.ready_result = 0; },
       {"CPhoner::SetUpPhoner() failed.", "CPhoner::SendUpMessage() failed."}, false},
      {"calls not started", [](FakeVoiceAlert& a) { a.send_result = 0; },
       {"CPhoner::SendAlerts() failed.", "CPhoner::SendUpMessage() failed."}, false},
      {"calls not delivered", [](FakeVoiceAlert& a) { a.final_state = 1003; },
       {"CPhoner::SendUpMessage() failed."}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeVoiceAlert& alert = Ready();
    c.script(alert);
    log_.Clear();
    EXPECT_FALSE(phoner_.SendUpMessage());
    EXPECT_EQ(log_.Errors(), c.errors);
    EXPECT_EQ(log_.Messages().size(), c.delivered_line ? 1u : 0u);
    if (c.name == cases[0].name) {
      EXPECT_EQ(alert.CountOf("AddPhoneAddress Bob"), 0) << "numbers after a refusal are not added";
    }
  }
}

TEST_F(PhonerTest, CustomMessageNeedsATextAndKeepsTheMessageType) {
  Ready();
  EXPECT_FALSE(phoner_.SendCustomMessage(""));
  EXPECT_THAT(log_.Errors(), ElementsAre("CPhoner::SendCustomMessage() failed."));
  EXPECT_THAT(CallsSinceReady(), IsEmpty());

  phoner_.SetMessageType(PHONE_MSG_REMOTE_URL_DOWN);
  EXPECT_TRUE(phoner_.SendCustomMessage("A monitored remote website has failed. The URL is: u"));
  EXPECT_EQ(phoner_.LastDeliveredType(), PHONE_MSG_REMOTE_URL_DOWN);
  EXPECT_THAT(log_.Messages(),
              ElementsAre("Delivered Phone Message: 'A monitored remote website has failed. "
                          "The URL is: u'."));
}

TEST_F(PhonerTest, MessageTypeTexts) {
  FakeVoiceAlert& alert = Ready();
  for (std::int32_t type : {999, 1000, 1009}) phoner_.SetMessageType(type);
  phoner_.SetMessageType(PHONE_MSG_LOCAL_URL_UP);
  EXPECT_EQ(alert.CountOf("SetMessageType "), 4);
  EXPECT_EQ(alert.Calls().back(), "SetMessageType Local URL is back up!");
  EXPECT_EQ(alert.CountOf("SetMessageType Local"), 1);
}

TEST_F(PhonerTest, WaitForCallCompletionPollsUntilTheCallsEnd) {
  FakeVoiceAlert& alert = Ready();
  alert.call_states = {1001, 1001, 1001, 1002};
  EXPECT_TRUE(phoner_.WaitForCallCompletion());
  const auto events = log_.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "CPhoner::WaitForCallCompletion waits 5 sec."),
            3);
  EXPECT_EQ(clock_.total_slept(), std::chrono::seconds(15));
}

TEST_F(PhonerTest, CallsThatNeverEndAreWaitedForAtMostTenMinutesOrUntilAStop) {
  FakeVoiceAlert& alert = Ready();
  alert.final_state = 1001;
  const auto start = clock_.MonoNow();
  EXPECT_FALSE(phoner_.WaitForCallCompletion());
  EXPECT_EQ(clock_.MonoNow() - start, std::chrono::minutes(10));
  EXPECT_TRUE(log_.HasError(
      "CPhoner::WaitForCallCompletion() gave up after 10 minutes; calls may still run."));

  // A stop is seen at the next 1-second sleep, and a send then fails instead of piling calls.
  int polls = 0;
  phoner_.SetStopPredicate([&] { return ++polls > 2; });
  alert.ready_result = 0;  // the component is still busy
  const auto before_stop = clock_.MonoNow();
  EXPECT_FALSE(phoner_.SendDownMessage());
  EXPECT_EQ(clock_.MonoNow() - before_stop, std::chrono::seconds(2));
  EXPECT_TRUE(log_.HasError("CPhoner::WaitForCallCompletion() ended by a stop; calls may still run."));
  EXPECT_EQ(alert.CountOf("SendAlerts"), 0);
}

TEST_F(PhonerTest, CreationFailuresLeaveNoUsableComponent) {
  {
    SCOPED_TRACE("component not registered");
    factory_.FailCreation(snx::platform::CLSID_VoiceAlert, snx::platform::REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(phoner_.Initialize(&settings_));
    EXPECT_TRUE(log_.HasError("CPhoner::3"));
    EXPECT_TRUE(log_.HasError("CPhoner::CreateVoiceAlert failed."));
    EXPECT_TRUE(log_.HasError("CPhoner::Initialize() failed."));
    EXPECT_FALSE(phoner_.ReadStatus());
    EXPECT_FALSE(phoner_.Status(4));
    EXPECT_TRUE(phoner_.WaitForCallCompletion());
    EXPECT_FALSE(phoner_.SendDownMessage());
    EXPECT_TRUE(log_.HasError("CPhoner::SetUpPhoner() failed."));
  }
  {
    SCOPED_TRACE("configuration refused: live, but not fully initialized");
    log_.Clear();
    factory_.FailCreation(snx::platform::CLSID_VoiceAlert, snx::platform::S_OK);
    configure_result_ = 0;
    EXPECT_TRUE(phoner_.Initialize(&settings_));
    EXPECT_FALSE(phoner_.Status(4));
    EXPECT_THAT(log_.Messages(),
                ElementsAre("Sentinex will not work unless you either:",
                            " 1) disable the Phone Alerts in you settings, or",
                            " 2) fix the config problem. Probably bad SAPI or TAPI."));
    EXPECT_EQ(alert_->Calls().front(), "Configure /opt/snxsvc/");
  }
}

TEST_F(PhonerTest, InitializeAgainEndsTheOldComponentsCallsAndReplacesIt) {
  Ready();
  const ComPtr<FakeVoiceAlert> old = alert_;
  ASSERT_TRUE(phoner_.Initialize(&settings_));
  EXPECT_NE(alert_.Get(), old.Get());
  EXPECT_EQ(old->CountOf("ResetCallState 1001"), 1);
  EXPECT_EQ(old->RefCount(), 1u) << "the client holds no reference to the old component";
  EXPECT_EQ(factory_.CreationCount(snx::platform::CLSID_VoiceAlert), 2);

  phoner_.ReleaseVoiceAlert();
  EXPECT_EQ(alert_->RefCount(), 1u);
}

TEST_F(PhonerTest, ReadStatusAsksTheFourCodesInOrder) {
  FakeVoiceAlert& alert = Ready();
  alert.status[1] = 0;
  ASSERT_TRUE(phoner_.ReadStatus());
  EXPECT_THAT(CallsSinceReady(),
              ElementsAre("GetStatus 1008", "GetStatus 1009", "GetStatus 1010", "GetStatus 1011"));
  EXPECT_TRUE(phoner_.Status(1));
  EXPECT_FALSE(phoner_.Status(2));
  EXPECT_TRUE(phoner_.Status(4));
}

}  // namespace

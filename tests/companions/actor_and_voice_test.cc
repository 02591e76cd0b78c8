#include <gmock/gmock.h>

#include <deque>

#include "actor.h"
#include "platform/runnable_file.h"
#include "support/test_support.h"
#include "voice_alert.h"

namespace snx::platform {
namespace {

using test::Eventually;
using test::FileLines;
using testing::HasSubstr;

// The answer of one of the companion's methods that take only their out-value.
template <class C>
std::int32_t Call(const ComPtr<C>& object, HRESULT (C::*method)(std::int32_t*)) {
  std::int32_t answer = 0;
  (object.Get()->*method)(&answer);
  return answer;
}

// A temporary install folder whose web-server reset only records that it ran.
class ActorTest : public testing::Test {
 protected:
  ActorTest() {
    test::WriteScript(dir_, "iisreset", "echo \"reset $*\" >> \"$(dirname \"$0\")/resets\"\n");
  }
  std::int32_t Configure(Variant program, Variant act, Variant repeat, Variant timeout) {
    std::int32_t accepted = 0;
    actor_->Configure(&program, &act, &repeat, &timeout, &accepted);
    return accepted;
  }
  std::size_t Resets() const { return FileLines(dir_, "resets").size(); }
  std::vector<std::string> Log() const { return FileLines(dir_, CActor::kLogName); }

  test::TempDir dir_;
  std::unique_ptr<Launcher> launcher_ = NewPosixLauncher({dir_.path() + "/", nullptr, nullptr});
  ComPtr<CActor> actor_ =
      ComPtr<CActor>::Attach(new CActor(*launcher_, Use<Clock>(), dir_.path() + "/"));
};

// The overrun of a phase with the watchdog's set-up: tests/recovery/insurer_test.cc.

TEST_F(ActorTest, PhasesThatEndInTimeRunNothing) {
  ASSERT_EQ(Configure(Variant::Text("Iisreset.exe"), Variant::Bool(true), Variant::Bool(false),
                      Variant::Int(10000)),
            -1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Call(actor_, &CActor::BeginPhase), -1);
    EXPECT_EQ(Call(actor_, &CActor::EndPhase), -1);
  }
  EXPECT_EQ(Call(actor_, &CActor::EndPhase), 0) << "no phase is open";
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
  EXPECT_EQ(Call(actor_, &CActor::BeginPhase), 0);
  EXPECT_EQ(Call(actor_, &CActor::EndPhase), 0);
  EXPECT_EQ(Log().size(), std::size(cases)) << "one line per refusal";
}

const std::string kRecordingExample = std::string(SNX_SOURCE_DIR) + "/examples/voice-dial.record";

class VoiceAlertTest : public testing::Test {
 protected:
  std::int32_t Configure() {
    std::int32_t result = 0;
    alert_->Configure(Text(dir_.path()), &result);
    return result;
  }
  std::int32_t Add(const std::string& name, const std::string& number) {
    std::int32_t result = 0;
    alert_->AddPhoneAddress(Text(name), Text(number), &result);
    return result;
  }
  std::int32_t Status(std::int32_t code) {
    std::int32_t value = 0;
    alert_->GetStatus(&code, &value);
    return value;
  }
  std::int32_t Send(const std::string& message, bool acknowledge) {
    Variant ack = Variant::Bool(acknowledge);
    std::int32_t accepted = 0;
    alert_->SetMessage(Text(message));
    alert_->SetAcknowledge(&ack, &accepted);
    return accepted == -1 ? Call(alert_, &CVoiceAlert::SendAlerts) : 0;
  }
  // A text argument that lives until the test ends.
  Variant* Text(const std::string& text) { return &texts_.emplace_back(Variant::Text(text)); }
  // The call state once the calls have ended.
  std::int32_t EndState() {
    Eventually([&] { return Call(alert_, &CVoiceAlert::GetCallState) != kCallInProgress; });
    return Call(alert_, &CVoiceAlert::GetCallState);
  }
  void InstallRecorder() {
    std::filesystem::copy_file(kRecordingExample, dir_.File("voice-dial"),
                               std::filesystem::copy_options::overwrite_existing);
  }

  test::TempDir dir_;
  std::deque<Variant> texts_;
  std::unique_ptr<Launcher> launcher_ = NewPosixLauncher({});
  ComPtr<CVoiceAlert> alert_ =
      ComPtr<CVoiceAlert>::Attach(new CVoiceAlert(*launcher_, Use<Clock>()));
};

TEST_F(VoiceAlertTest, EveryNumberIsCalledThroughTheDialCommandWithItsTextsAsTheyStand) {
  InstallRecorder();
  ASSERT_EQ(Configure(), -1);
  EXPECT_EQ(Status(CVoiceAlert::kStatusConfigured), -1);
  EXPECT_EQ(Call(alert_, &CVoiceAlert::CheckReady), -1);
  EXPECT_EQ(Add("Ann O'Neil", "+41 44 111"), -1);
  EXPECT_EQ(Add("Bob", "sip:bob@example.org"), -1);
  EXPECT_EQ(Call(alert_, &CVoiceAlert::CheckReady), 0) << "numbers were added";
  // Quotes, a command substitution and backslashes reach the command untouched: no shell.
  const std::string message = R"(It's down; $(touch pwned) "q" C:\\Apps\x)";
  ASSERT_EQ(Send(message, true), -1);
  EXPECT_EQ(EndState(), kCallDelivered);

  const auto calls = FileLines(dir_, "voice-dial-calls.txt");
  ASSERT_EQ(calls.size(), 2u);
  const bool speaks = IsRunnableFile("/usr/bin/espeak-ng");
  const std::string wav = speaks ? dir_.File(CVoiceAlert::kMessageWav) : "-";
  EXPECT_THAT(calls[0], HasSubstr("\t+41 44 111\tAnn O'Neil\t1\t" + wav + "\t" + message));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("pwned")));
  if (speaks) {
    EXPECT_EQ(dir_.Read(CVoiceAlert::kMessageWav).substr(0, 4), "RIFF");
  }
  EXPECT_EQ(Status(CVoiceAlert::kStatusSpoken), speaks ? -1 : 0);

  const auto log = FileLines(dir_, CVoiceAlert::kPhoneLog);
  ASSERT_EQ(log.size(), 3u);  // ready, two calls
  EXPECT_THAT(log[1], HasSubstr("call 1/2 to Ann O'Neil at +41 44 111"));
  EXPECT_THAT(log[2], HasSubstr("delivered (exit 0)"));
  EXPECT_EQ(Status(CVoiceAlert::kStatusAllDelivered), -1);
  EXPECT_EQ(Call(alert_, &CVoiceAlert::CheckReady), -1) << "ready for the next message's set-up";
}

// A failing dial command: tests/integration/snxctl_companions_test.cc.

TEST_F(VoiceAlertTest, NothingIsAcceptedWithoutAnExecutableDialCommand) {
  EXPECT_EQ(Configure(), 0) << "no voice-dial";
  dir_.Write("voice-dial", "#!/bin/sh\nexit 0\n");
  EXPECT_EQ(Configure(), 0) << "not executable";
  EXPECT_EQ(Add("Ann", "111"), 0);
  EXPECT_EQ(Status(CVoiceAlert::kStatusConfigured), 0);
  EXPECT_THAT(FileLines(dir_, CVoiceAlert::kPhoneLog).back(),
              HasSubstr("not ready: no executable voice-dial in " + dir_.path() + "/"));
  InstallRecorder();
  EXPECT_EQ(Configure(), -1);
  EXPECT_EQ(Call(alert_, &CVoiceAlert::SendAlerts), 0) << "no number was given";
}

TEST_F(VoiceAlertTest, OnlyNumbersTheDialCommandCannotMistakeAreAccepted) {
  using Texts = std::vector<std::string>;
  for (const auto& good : Texts{"+41 (44) 123-45", "sip:ann@example.org", std::string(64, '1')}) {
    EXPECT_TRUE(CVoiceAlert::AcceptableNumber(good)) << good;
  }
  for (const auto& bad : Texts{"", "   ", "--help", "12\n34", std::string(65, '1')}) {
    EXPECT_FALSE(CVoiceAlert::AcceptableNumber(bad)) << bad;
  }
}

TEST_F(VoiceAlertTest, ResetCallStateEndsTheCallsThatAreRunning) {
  test::WriteScript(dir_, "voice-dial", "echo \"$1\" >> \"$(dirname \"$0\")/calls\"\nsleep 3\n");
  ASSERT_EQ(Configure(), -1);
  Add("Ann", "111");
  Add("Bob", "222");
  ASSERT_EQ(Send("down", false), -1);
  ASSERT_TRUE(Eventually([&] { return FileLines(dir_, "calls").size() == 1; }));
  EXPECT_EQ(Call(alert_, &CVoiceAlert::GetCallState), kCallInProgress);
  std::int32_t in_progress = kCallInProgress, state = 0;
  alert_->ResetCallState(&in_progress, &state);
  EXPECT_EQ(state, CVoiceAlert::kIdle);
  EXPECT_EQ(FileLines(dir_, "calls").size(), 1u) << "the second number is not called";
  EXPECT_THAT(FileLines(dir_, CVoiceAlert::kPhoneLog).back(),
              HasSubstr("not delivered (calls ended by the watchdog)"));
}

}  // namespace
}  // namespace snx::platform

#pragma once
// CVoiceAlert: the voice alert companion "QorVoiceAlert.VoiceAlert". It does no telephony of its
// own: every call goes through the administrator's dial command, an executable "voice-dial" in
// the folder given to Configure, run once per number (no shell) as
//
//   voice-dial NUMBER NAME MESSAGE ACK [WAV]
//
// ACK is "1" when the called person must acknowledge, else "0"; WAV is the message spoken into
// a WAV file when espeak-ng is installed. Exit code 0 means the message was delivered. The calls
// run one after another on a thread of the component, each bounded by kCallBound; the call
// state is kCallInProgress while they run, kCallDelivered when every call's command exited 0,
// and kCallNotDelivered otherwise. One line per call goes to the phone log in the folder.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "companion_log.h"
#include "components/component_object.h"
#include "components/voice_alert_interface.h"
#include "platform/clock.h"
#include "platform/launcher.h"

class CVoiceAlert final : public snx::platform::ComObject<snx::platform::IVoiceAlert> {
 public:
  using HRESULT = snx::platform::HRESULT;
  using Variant = snx::platform::Variant;

  static constexpr const char* kDialCommand = "voice-dial";
  static constexpr const char* kPhoneLog = "Phone.log";
  static constexpr const char* kMessageText = "voice-alert-message.txt";
  static constexpr const char* kMessageWav = "voice-alert-message.wav";
  // Longest run of one dial command; six calls stay inside the watchdog's 10-minute wait.
  static constexpr std::chrono::seconds kCallBound{90};
  static constexpr std::chrono::seconds kSpeechBound{30};
  static constexpr std::int32_t kIdle = 1000;
  static constexpr std::int32_t kCallNotDelivered = 1003;
  static constexpr std::size_t kMaxNumbers = 16;
  static constexpr std::size_t kMaxNumberLength = 64;
  static constexpr std::size_t kMaxNameLength = 128;
  static constexpr std::size_t kMaxMessageLength = 2046;
  // Status codes of GetStatus.
  static constexpr std::int32_t kStatusDialCommand = 1008;   // voice-dial is there and runnable
  static constexpr std::int32_t kStatusSpoken = 1009;        // the last message became a WAV
  static constexpr std::int32_t kStatusAllDelivered = 1010;  // the last calls all delivered
  static constexpr std::int32_t kStatusConfigured = 1011;    // Configure accepted a folder

  CVoiceAlert(snx::platform::Launcher& launcher, snx::platform::Clock& clock);

  HRESULT AddPhoneAddress(Variant* name, Variant* number, std::int32_t* result) override;
  HRESULT SendAlerts(std::int32_t* result) override;
  HRESULT CheckReady(std::int32_t* result) override;
  HRESULT SetMessage(Variant* message) override;
  HRESULT SetAcknowledge(Variant* flag, std::int32_t* result) override;
  HRESULT SetMessageType(Variant* type_text, std::int32_t* value) override;
  HRESULT Reserved7(std::int32_t* value) override;
  HRESULT Reserved8(std::int32_t* value) override;
  HRESULT GetCallState(std::int32_t* state) override;
  HRESULT ResetCallState(std::int32_t* value, std::int32_t* state) override;
  HRESULT Configure(Variant* folder, std::int32_t* result) override;
  HRESULT GetStatus(std::int32_t* code, std::int32_t* value) override;

  // A number the dial command can be given: 1 to kMaxNumberLength visible characters, not
  // starting with "-" (it would read as an option).
  static bool AcceptableNumber(std::string_view number);

 private:
  ~CVoiceAlert() override;

  struct Callee {
    std::string name;
    std::string number;
  };
  struct Batch {
    std::string folder;
    std::vector<Callee> callees;
    std::string message;
    std::string type_text;
    bool acknowledge = false;
  };

  void RunCalls(Batch batch);
  // The message as a WAV file in the folder, or "" when it could not be spoken.
  std::string Speak(const std::string& folder, const std::string& message);
  snx::platform::LaunchResult RunArgv(std::vector<std::string> argv,
                                      std::chrono::milliseconds bound);
  // Ends running calls and waits for the call thread.
  void EndCalls();

  snx::platform::Launcher& launcher_;
  CCompanionLog log_;
  std::mutex mutex_;
  std::string folder_;  // POSIX path ending in "/"; "" until configured
  bool acknowledge_ = false;
  std::string message_;
  std::string type_text_;
  std::vector<Callee> callees_;
  std::atomic<std::int32_t> state_{kIdle};
  std::atomic<bool> spoken_{false};
  std::atomic<bool> cancel_{false};
  std::thread calls_;
};

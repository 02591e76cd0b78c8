#pragma once
// CPhoner: spoken telephone alerts through the voice alert companion
// "QorVoiceAlert.VoiceAlert". It does not dial itself: it gives the companion up to six numbers
// with names, the acknowledge switch, a message text and a message type, tells it to call, and
// waits until the calls are finished. Only the operations thread uses it.
//
// Every wait for calls is bounded (kMaxCallWait) and also ends when the stop predicate answers
// true (a STOP command or the kill request); the predicate is asked at every 1-second sleep,
// which goes through the clock.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

#include "components/component_factory.h"
#include "components/voice_alert_interface.h"
#include "core/qor_object.h"
#include "core/qor_str.h"
#include "files/all_sets.h"
#include "platform/clock.h"

// Message types (the texts are those of CPhoner::MessageTypeText).
constexpr std::int32_t PHONE_MSG_NONE = 1000;
constexpr std::int32_t PHONE_MSG_APP_UP = 1001;
constexpr std::int32_t PHONE_MSG_APP_DOWN = 1002;
constexpr std::int32_t PHONE_MSG_SERVER_UP = 1003;
constexpr std::int32_t PHONE_MSG_SERVER_DOWN = 1004;
constexpr std::int32_t PHONE_MSG_LOCAL_URL_UP = 1005;
constexpr std::int32_t PHONE_MSG_LOCAL_URL_DOWN = 1006;
constexpr std::int32_t PHONE_MSG_REMOTE_URL_UP = 1007;
constexpr std::int32_t PHONE_MSG_REMOTE_URL_DOWN = 1008;

class CPhoner : public CQorObject {
 public:
  static constexpr int kStatusFlags = 4;
  // The status codes asked of the component, one per flag.
  static constexpr std::int32_t kFirstStatusCode = 1008;
  // The longest wait for running calls before the alert goes on without them.
  static constexpr std::chrono::minutes kMaxCallWait{10};
  // The component is asked again after this many 1-second sleeps.
  static constexpr int kPollSeconds = 5;

  CPhoner(snx::platform::ComponentFactory& components, snx::platform::Clock& clock);
  CPhoner(const CPhoner&) = delete;
  CPhoner& operator=(const CPhoner&) = delete;
  ~CPhoner() override;

  // The system's data folder, handed to the component as its configuration. Set before
  // Initialize.
  void SetFolder(std::string_view folder) { m_sFolder.Assign(folder); }
  const CQorStr& Folder() const { return m_sFolder; }
  // Ends every wait for calls early when it answers true. May be empty.
  void SetStopPredicate(std::function<bool()> stop) { m_fnStop = std::move(stop); }

  // True when a component exists afterwards (re-created when one existed already).
  bool Initialize(CAllSets* settings);
  // Creates and configures the component; the stored component, or null.
  snx::platform::IVoiceAlert* CreateVoiceAlert();
  bool ReCreateVoiceAlert();
  // Asks the component for the status codes 1008 to 1011; false without a component.
  bool ReadStatus();
  // Drops the component (the operations thread's end).
  void ReleaseVoiceAlert();

  bool SetUpPhoner();
  bool AddPhoneAddress(std::string_view number, std::string_view name);
  bool SetMessage(std::string_view text);
  bool SetMessageType(std::int32_t type);
  bool SetAcknowledge(bool acknowledge);
  bool CheckReady();
  bool SendAlerts();
  // True when delivered, or when no number is in use.
  bool SendUpMessage();
  bool SendDownMessage();
  bool SendCustomMessage(std::string_view text);
  // Waits while the component reports a call in progress: at most kMaxCallWait, and not past
  // a stop. True when no call is running any more.
  bool WaitForCallCompletion();

  // The text of a message type; empty for 1000 and for a number outside the table.
  static const char* MessageTypeText(std::int32_t type);

  bool IsLive() override { return m_bLive && CQorObject::IsLive(); }
  bool HasComponent() const { return static_cast<bool>(m_pVoiceAlert); }
  // Status flag 1 to 4 (the answers to 1008 to 1011); the fourth: fully initialized.
  bool Status(int which) const {
    return which >= 1 && which <= kStatusFlags && m_abStatus[which - 1];
  }
  std::int32_t MessageType() const { return m_iMessageType; }
  std::int32_t LastDeliveredType() const { return m_iLastDeliveredType; }

 private:
  bool AnyNumberInUse() const;
  // The shared course of the three sends; `delivered_line` is written whatever the state.
  bool Send(const char* first_line, std::string_view text, std::int32_t delivered_type,
            std::string_view delivered_line, const char* failure_line);
  std::int32_t CallState();
  bool StopRequested() const { return m_fnStop && m_fnStop(); }

  snx::platform::ComponentFactory& m_Components;
  snx::platform::Clock& m_Clock;
  CQorStr m_sFolder;
  CAllSets* m_pSettings = nullptr;  // not owned
  std::int32_t m_iMessageType = PHONE_MSG_NONE;
  bool m_abStatus[kStatusFlags] = {};
  snx::platform::ComPtr<snx::platform::IVoiceAlert> m_pVoiceAlert;
  std::int32_t m_iLastDeliveredType = 0;
  bool m_bLive = false;
  std::function<bool()> m_fnStop;
};

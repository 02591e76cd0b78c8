#pragma once
// IVoiceAlert: the telephone alerter companion "QorVoiceAlert.VoiceAlert" ("QorVoiceAlert.dll").
// Methods stand in slot order after the seven of the dispatch base (method 1 = slot 7). Texts
// go in as Variants holding text, passed by pointer; results come back as 32-bit values through
// a pointer, where -1 means success or true.

#include <cstdint>

#include "components/component.h"

namespace snx::platform {

inline constexpr CLSID CLSID_VoiceAlert = {
    0xFD7B3119, 0xCD91, 0x4994, {0xBD, 0xD9, 0x67, 0xE9, 0x25, 0x9F, 0x2D, 0xF2}};
inline constexpr const char* kVoiceAlertProgId = "QorVoiceAlert.VoiceAlert";
inline constexpr const char* kVoiceAlertFile = "QorVoiceAlert.dll";

// Call states.
inline constexpr std::int32_t kCallInProgress = 1001;
inline constexpr std::int32_t kCallDelivered = 1002;

class IVoiceAlert : public IDispatch {
 public:
  static constexpr IID kIid = {
      0x345F7E03, 0x3372, 0x4B04, {0x84, 0xC8, 0x28, 0xE5, 0x3F, 0x5A, 0x33, 0x4A}};

  // 1 (7): -1 when the number was accepted.
  virtual HRESULT AddPhoneAddress(Variant* name, Variant* number, std::int32_t* result) = 0;
  // 2 (8): -1 when the calls were started.
  virtual HRESULT SendAlerts(std::int32_t* result) = 0;
  // 3 (9): -1 before any number is added.
  virtual HRESULT CheckReady(std::int32_t* result) = 0;
  // 4 (10): the spoken message text.
  virtual HRESULT SetMessage(Variant* message) = 0;
  // 5 (11): acknowledge mode (boolean -1/0). -1 when accepted.
  virtual HRESULT SetAcknowledge(Variant* flag, std::int32_t* result) = 0;
  // 6 (12): the message-type text.
  virtual HRESULT SetMessageType(Variant* type_text, std::int32_t* value) = 0;
  // 7, 8 (13, 14): not called by the watchdog.
  virtual HRESULT Reserved7(std::int32_t* value) = 0;
  virtual HRESULT Reserved8(std::int32_t* value) = 0;
  // 9 (15): kCallInProgress while a call runs, kCallDelivered when the message was delivered.
  virtual HRESULT GetCallState(std::int32_t* state) = 0;
  // 10 (16): `value` points to kCallInProgress.
  virtual HRESULT ResetCallState(std::int32_t* value, std::int32_t* state) = 0;
  // 11 (17): the data folder (text). -1 when the component is ready for use.
  virtual HRESULT Configure(Variant* folder, std::int32_t* result) = 0;
  // 12 (18): -1 when the status `code` (1008 to 1011) is true.
  virtual HRESULT GetStatus(std::int32_t* code, std::int32_t* value) = 0;

 protected:
  ~IVoiceAlert() = default;
};

}  // namespace snx::platform

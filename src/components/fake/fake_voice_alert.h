#pragma once
// An in-memory voice alert component for tests: it records what it is told, in order, and
// answers as scripted. Nothing is dialled.

#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "components/component_object.h"
#include "components/voice_alert_interface.h"

namespace snx::platform {

class FakeVoiceAlert final : public ComObject<IVoiceAlert> {
 public:
  // The answers; change them before the call they are meant for.
  std::int32_t configure_result = -1;
  std::int32_t acknowledge_result = -1;
  std::int32_t ready_result = -1;
  std::int32_t send_result = -1;
  std::set<std::string> refused_numbers;
  std::int32_t status[4] = {-1, -1, -1, -1};  // answers to the codes 1008..1011
  // GetCallState answers these in order, then `final_state` for ever.
  std::deque<std::int32_t> call_states;
  std::int32_t final_state = kCallDelivered;

  // "Configure F", "SetAcknowledge -1", "CheckReady", "AddPhoneAddress NAME NUMBER",
  // "SetMessage T", "SetMessageType T", "SendAlerts", "GetCallState", "ResetCallState 1001",
  // "GetStatus 1008" ... in the order they came.
  std::vector<std::string> Calls() const;
  int CountOf(const std::string& prefix) const;

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

 private:
  void Record(std::string call);
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace snx::platform

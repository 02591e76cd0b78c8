#include "components/fake/fake_voice_alert.h"

namespace snx::platform {

namespace {
std::string TextOf(const Variant* v) { return v != nullptr ? v->TextValue() : std::string(); }
HRESULT Answer(std::int32_t* out, std::int32_t value) {
  if (out == nullptr) return E_POINTER;
  *out = value;
  return S_OK;
}
}  // namespace

void FakeVoiceAlert::Record(std::string call) {
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

std::vector<std::string> FakeVoiceAlert::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

int FakeVoiceAlert::CountOf(const std::string& prefix) const {
  int n = 0;
  for (const auto& c : Calls()) n += c.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

HRESULT FakeVoiceAlert::AddPhoneAddress(Variant* name, Variant* number, std::int32_t* result) {
  Record("AddPhoneAddress " + TextOf(name) + " " + TextOf(number));
  return Answer(result, refused_numbers.count(TextOf(number)) != 0 ? 0 : -1);
}
HRESULT FakeVoiceAlert::SendAlerts(std::int32_t* result) {
  Record("SendAlerts");
  return Answer(result, send_result);
}
HRESULT FakeVoiceAlert::CheckReady(std::int32_t* result) {
  Record("CheckReady");
  return Answer(result, ready_result);
}
HRESULT FakeVoiceAlert::SetMessage(Variant* message) {
  Record("SetMessage " + TextOf(message));
  return S_OK;
}
HRESULT FakeVoiceAlert::SetAcknowledge(Variant* flag, std::int32_t* result) {
  Record("SetAcknowledge " + std::to_string(flag != nullptr ? flag->BoolValue() : 0));
  return Answer(result, acknowledge_result);
}
HRESULT FakeVoiceAlert::SetMessageType(Variant* type_text, std::int32_t* value) {
  Record("SetMessageType " + TextOf(type_text));
  return Answer(value, 0);
}
HRESULT FakeVoiceAlert::Reserved7(std::int32_t*) { return E_NOTIMPL; }
HRESULT FakeVoiceAlert::Reserved8(std::int32_t*) { return E_NOTIMPL; }
HRESULT FakeVoiceAlert::GetCallState(std::int32_t* state) {
  Record("GetCallState");
  std::int32_t answer = final_state;
  {
    std::lock_guard lock(mutex_);
    if (!call_states.empty()) {
      answer = call_states.front();
      call_states.pop_front();
    }
  }
  return Answer(state, answer);
}
HRESULT FakeVoiceAlert::ResetCallState(std::int32_t* value, std::int32_t* state) {
  Record("ResetCallState " + std::to_string(value != nullptr ? *value : 0));
  return Answer(state, final_state);
}
HRESULT FakeVoiceAlert::Configure(Variant* folder, std::int32_t* result) {
  Record("Configure " + TextOf(folder));
  return Answer(result, configure_result);
}
HRESULT FakeVoiceAlert::GetStatus(std::int32_t* code, std::int32_t* value) {
  const std::int32_t c = code != nullptr ? *code : 0;
  Record("GetStatus " + std::to_string(c));
  return Answer(value, c >= 1008 && c <= 1011 ? status[c - 1008] : 0);
}

}  // namespace snx::platform

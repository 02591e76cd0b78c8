#pragma once
// An in-memory assurance actor for tests: records its set-up and counts the phases.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "components/actor_interface.h"
#include "components/component_object.h"

namespace snx::platform {

class FakeActor final : public ComObject<IActor> {
 public:
  std::int32_t configure_answer = -1;
  std::int32_t phase_answer = -1;

  HRESULT Configure(Variant* program, Variant* first_switch, Variant* second_switch,
                    Variant* timeout_ms, std::int32_t* accepted) override {
    std::lock_guard lock(mutex_);
    program_ = program != nullptr ? *program : Variant();
    switches_[0] = first_switch != nullptr ? *first_switch : Variant();
    switches_[1] = second_switch != nullptr ? *second_switch : Variant();
    timeout_ = timeout_ms != nullptr ? *timeout_ms : Variant();
    ++configured_;
    return Answer(accepted, configure_answer);
  }
  HRESULT BeginPhase(std::int32_t* answer) override {
    ++begins_;
    return Answer(answer, phase_answer);
  }
  HRESULT EndPhase(std::int32_t* answer) override {
    ++ends_;
    return Answer(answer, phase_answer);
  }

  Variant Program() const { return Locked(program_); }
  Variant Switch(int which) const { return Locked(switches_[which == 1 ? 0 : 1]); }
  Variant TimeOut() const { return Locked(timeout_); }
  int Configured() const { return configured_; }
  int Begins() const { return begins_; }
  int Ends() const { return ends_; }

 private:
  static HRESULT Answer(std::int32_t* out, std::int32_t value) {
    if (out == nullptr) return E_POINTER;
    *out = value;
    return S_OK;
  }
  Variant Locked(const Variant& v) const {
    std::lock_guard lock(mutex_);
    return v;
  }
  mutable std::mutex mutex_;
  Variant program_;
  Variant switches_[2];
  Variant timeout_;
  std::atomic<int> configured_{0};
  std::atomic<int> begins_{0};
  std::atomic<int> ends_{0};
};

}  // namespace snx::platform

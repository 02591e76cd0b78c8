#pragma once
// IActor: the assurance companion "QorAssure.Actor" ("QorAssure.dll"). Methods stand in slot
// order after the seven of the dispatch base (method 1 = slot 7). Every value goes in as a
// Variant by pointer; a 32-bit out value of -1 means yes.

#include <cstdint>

#include "components/component.h"

namespace snx::platform {

inline constexpr CLSID CLSID_Actor = {
    0x998514A8, 0x2201, 0x480E, {0xB0, 0xED, 0x89, 0xEF, 0x9F, 0xB3, 0xE7, 0x85}};
inline constexpr const char* kActorProgId = "QorAssure.Actor";
inline constexpr const char* kActorFile = "QorAssure.dll";

class IActor : public IDispatch {
 public:
  static constexpr IID kIid = {
      0x8B7506CD, 0x5107, 0x4501, {0xB7, 0x87, 0x92, 0x86, 0x18, 0x2A, 0xE9, 0xFF}};

  // 1 (7): the set-up: a program (text), two switches (booleans -1/0), a time-out in
  // milliseconds (integer). -1 = accepted.
  virtual HRESULT Configure(Variant* program, Variant* first_switch, Variant* second_switch,
                            Variant* timeout_ms, std::int32_t* accepted) = 0;
  // 2 (8): a phase begins.
  virtual HRESULT BeginPhase(std::int32_t* answer) = 0;
  // 3 (9): the phase ended.
  virtual HRESULT EndPhase(std::int32_t* answer) = 0;

 protected:
  ~IActor() = default;
};

}  // namespace snx::platform

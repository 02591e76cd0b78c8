#pragma once
// IPulse: the life-sign companion "QorPulse.Pulse" ("QorPulse.dll"). The watchdog only
// registers it; its one method answers -1 while the component is alive.

#include <cstdint>

#include "platform/component.h"

namespace snx::platform {

inline constexpr CLSID CLSID_Pulse = {
    0x1B439D76, 0xD5F1, 0x4C37, {0x94, 0xF4, 0x74, 0x15, 0xEB, 0xA0, 0x4A, 0x81}};
inline constexpr const char* kPulseProgId = "QorPulse.Pulse";
inline constexpr const char* kPulseFile = "QorPulse.dll";

class IPulse : public IDispatch {
 public:
  static constexpr IID kIid = {
      0x3E1E8326, 0xFF5D, 0x4CB7, {0xA9, 0xFF, 0x97, 0x38, 0xBF, 0xBB, 0xB3, 0x56}};

  // 1 (7): -1 while the component is alive.
  virtual HRESULT Beat(std::int32_t* alive) = 0;

 protected:
  ~IPulse() = default;
};

}  // namespace snx::platform

// QorPulse.dll: the life-sign companion "QorPulse.Pulse". The watchdog only registers it; its
// object answers that it is alive.

#include <vector>

#include "platform/component_factory.h"
#include "platform/component_object.h"
#include "platform/pulse_interface.h"

namespace {

using namespace snx::platform;

class CPulse final : public ComObject<IPulse> {
 public:
  HRESULT Beat(std::int32_t* alive) override {
    if (alive == nullptr) return E_POINTER;
    *alive = -1;
    return S_OK;
  }
};

const std::vector<ClassInfo>& Classes() {
  static const std::vector<ClassInfo> classes = {{CLSID_Pulse, kPulseProgId, "QorPulse Pulse"}};
  return classes;
}

IUnknown* NewObjectOf(const CLSID& clsid) {
  return clsid == CLSID_Pulse ? new (std::nothrow) CPulse() : nullptr;
}

}  // namespace

SNX_PLUGIN_ENTRIES(Classes())

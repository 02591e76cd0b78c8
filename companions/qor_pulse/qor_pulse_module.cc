// QorPulse.dll: the plug-in's entries. The life-sign companion "QorPulse.Pulse": the watchdog
// only registers it; snxctl pulse drives it (docs/pulse.md).

#include <vector>

#include "components/component_factory.h"
#include "platform/clock.h"
#include "platform/http_client.h"
#include "pulse.h"

namespace {

const std::vector<snx::platform::ClassInfo>& Classes() {
  static const std::vector<snx::platform::ClassInfo> classes = {
      {snx::platform::CLSID_Pulse, snx::platform::kPulseProgId, "QorPulse Pulse"}};
  return classes;
}

snx::platform::IUnknown* NewObjectOf(const snx::platform::CLSID& clsid) {
  if (!(clsid == snx::platform::CLSID_Pulse)) return nullptr;
  return new (std::nothrow) CPulse(snx::platform::Use<snx::platform::Clock>(),
                                   snx::platform::Use<snx::platform::HttpClient>());
}

}  // namespace

SNX_PLUGIN_ENTRIES(Classes())

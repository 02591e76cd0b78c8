// QorVoiceAlert.dll: the plug-in's entries.

#include <new>
#include <vector>

#include "components/component_factory.h"
#include "voice_alert.h"

namespace {

using namespace snx::platform;

const std::vector<ClassInfo>& Classes() {
  static const std::vector<ClassInfo> classes = {
      {CLSID_VoiceAlert, kVoiceAlertProgId, "QorVoiceAlert VoiceAlert"}};
  return classes;
}

IUnknown* NewObjectOf(const CLSID& clsid) {
  if (!(clsid == CLSID_VoiceAlert)) return nullptr;
  return new (std::nothrow) CVoiceAlert(Use<Launcher>(), Use<Clock>());
}

}  // namespace

SNX_PLUGIN_ENTRIES(Classes())

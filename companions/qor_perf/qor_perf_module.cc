// QorPerf.dll: the plug-in's entries.

#include <vector>

#include "components/component_factory.h"
#include "watcher.h"

namespace {

const std::vector<snx::platform::ClassInfo>& Classes() {
  static const std::vector<snx::platform::ClassInfo> classes = {
      {snx::platform::CLSID_Watcher, snx::platform::kWatcherProgId, "QorPerf Watcher"}};
  return classes;
}

snx::platform::IUnknown* NewObjectOf(const snx::platform::CLSID& clsid) {
  if (!(clsid == snx::platform::CLSID_Watcher)) return nullptr;
  return new (std::nothrow) CWatcher(snx::platform::Use<snx::platform::ProcessList>(),
                                     snx::platform::Use<snx::platform::ProcessStatsReader>());
}

}  // namespace

SNX_PLUGIN_ENTRIES(Classes())

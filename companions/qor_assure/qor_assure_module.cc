// QorAssure.dll: the plug-in's entries. The actor keeps its log in the plug-in's folder (the
// install folder), and its launcher finds the web-server reset command "iisreset" there.

#include <new>
#include <string>
#include <vector>

#include "actor.h"
#include "components/component_factory.h"
#include "platform/file_system.h"

namespace {

using namespace snx::platform;

const std::vector<ClassInfo>& Classes() {
  static const std::vector<ClassInfo> classes = {{CLSID_Actor, kActorProgId, "QorAssure Actor"}};
  return classes;
}

const std::string& PluginFolder() {
  static const std::string folder = [] {
    const auto path = Files().LoadedModulePath(kActorFile);
    return path ? path->substr(0, path->rfind('/') + 1) : std::string();
  }();
  return folder;
}

Launcher& PluginLauncher() {
  // Made once and kept for the life of the process: the plug-in is never unloaded.
  static Launcher* launcher =
      NewPosixLauncher({PluginFolder(), &Use<ComponentFactory>(), nullptr}).release();
  return *launcher;
}

IUnknown* NewObjectOf(const CLSID& clsid) {
  if (!(clsid == CLSID_Actor)) return nullptr;
  return new (std::nothrow) CActor(PluginLauncher(), Use<Clock>(), PluginFolder());
}

}  // namespace

SNX_PLUGIN_ENTRIES(Classes())

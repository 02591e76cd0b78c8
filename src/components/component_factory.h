#pragma once
// Making components: the class keys in the key store, create by CLSID or ProgID, and the
// registration of a plug-in file ("Regsvr32 [/s] [/u] X.dll").
//
// Class keys, as they are kept under HKEY_CLASSES_ROOT for a class with ProgID P:
//   P                      (default) = description;  P\CLSID (default) = {clsid}
//   P.1                    (default) = description;  P.1\CLSID (default) = {clsid}
//   CLSID\{clsid}          (default) = description
//   CLSID\{clsid}\ProgID                    (default) = P.1
//   CLSID\{clsid}\VersionIndependentProgID  (default) = P
//   CLSID\{clsid}\InprocServer32            (default) = full POSIX path of the plug-in,
//                                           ThreadingModel = "Both"
//
// A plug-in exports, with C linkage and default visibility, the four entries below; the
// component factory finds them with dlsym. The host passes the key store and the plug-in's own
// full path to the register entries, so a plug-in writes where its host reads.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/component.h"
#include "platform/installed.h"
#include "platform/launcher.h"

namespace snx::platform {

class KeyStore;

// What a plug-in says about one of its classes.
struct ClassInfo {
  CLSID clsid;
  const char* prog_id = "";      // version-independent, e.g. "QorPerf.Watcher"
  const char* description = "";  // e.g. "QorPerf Watcher"
};

// Writes the class keys of `info` for the plug-in at `module_path`. S_OK or SELFREG_E_CLASS.
HRESULT RegisterClassKeys(KeyStore& keys, const ClassInfo& info, std::string_view module_path);
// Removes them. Keys that are already gone are not a failure. S_OK or SELFREG_E_CLASS.
HRESULT UnregisterClassKeys(KeyStore& keys, const ClassInfo& info);

// ---- the plug-in's entries ---------------------------------------------------------------

inline constexpr std::uint32_t kPluginAbiVersion = 1;

struct RegistrationContext {
  std::uint32_t abi_version = kPluginAbiVersion;
  KeyStore* keys = nullptr;      // where the class keys go
  const char* module_path = "";  // the plug-in's full POSIX path, as InprocServer32 holds it
};

#define SNX_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

// The symbol names the factory looks up.
inline constexpr const char* kGetClassObjectSymbol = "DllGetClassObject";
inline constexpr const char* kRegisterServerSymbol = "DllRegisterServer";
inline constexpr const char* kUnregisterServerSymbol = "DllUnregisterServer";
inline constexpr const char* kCanUnloadNowSymbol = "DllCanUnloadNow";

// Signatures of the entries:
//   HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** out);
//     CLASS_E_CLASSNOTAVAILABLE for a class the plug-in does not serve.
//   HRESULT DllRegisterServer(const RegistrationContext* context);
//   HRESULT DllUnregisterServer(const RegistrationContext* context);
//   HRESULT DllCanUnloadNow();   S_OK when no object of the plug-in is alive
using GetClassObjectFn = HRESULT (*)(const CLSID&, const IID&, void**);
using RegisterServerFn = HRESULT (*)(const RegistrationContext*);
using CanUnloadNowFn = HRESULT (*)();

// A plug-in that serves the classes of `classes` writes the entries with this macro in one of
// its .cc files, after defining
//   snx::platform::IUnknown* NewObjectOf(const snx::platform::CLSID& clsid);
// which returns a new object (one reference held) of a class it serves, or null.
#define SNX_PLUGIN_ENTRIES(classes)                                                    \
  SNX_PLUGIN_EXPORT snx::platform::HRESULT DllGetClassObject(                          \
      const snx::platform::CLSID& clsid, const snx::platform::IID& iid, void** out) {  \
    return snx::platform::PluginGetClassObject(classes, NewObjectOf, clsid, iid, out); \
  }                                                                                    \
  SNX_PLUGIN_EXPORT snx::platform::HRESULT DllRegisterServer(                          \
      const snx::platform::RegistrationContext* context) {                             \
    return snx::platform::PluginRegister(classes, context, false);                     \
  }                                                                                    \
  SNX_PLUGIN_EXPORT snx::platform::HRESULT DllUnregisterServer(                        \
      const snx::platform::RegistrationContext* context) {                             \
    return snx::platform::PluginRegister(classes, context, true);                      \
  }                                                                                    \
  SNX_PLUGIN_EXPORT snx::platform::HRESULT DllCanUnloadNow() {                         \
    return snx::platform::PluginCanUnloadNow();                                        \
  }

// The shared bodies of the entries (component_module.cc).
HRESULT PluginGetClassObject(const std::vector<ClassInfo>& classes, IUnknown* (*make)(const CLSID&),
                             const CLSID& clsid, const IID& iid, void** out);
HRESULT PluginRegister(const std::vector<ClassInfo>& classes, const RegistrationContext* context,
                       bool unregister);
HRESULT PluginCanUnloadNow();

// ---- the facility ------------------------------------------------------------------------

// Creates components and registers plug-ins. Every failure comes back as a failed HRESULT,
// with a readable reason in `why` when the caller asks for it; nothing throws or crashes on a
// missing file, a file that is not a plug-in, or a plug-in that refuses.
class ComponentFactory : public PluginRegistrar {
 public:
  // Finds the class's plug-in through its class keys, loads it (once; it stays loaded), asks
  // its class factory for an object and the object for `iid`. REGDB_E_CLASSNOTREG when the
  // class has no keys, CO_E_DLLNOTFOUND / CO_E_ERRORINDLL when its plug-in cannot serve.
  virtual HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** out,
                                 std::string* why) = 0;
  // HKCR\<prog_id>\CLSID. CO_E_CLASSSTRING when it is missing or unreadable.
  virtual HRESULT CLSIDFromProgID(std::string_view prog_id, CLSID& out, std::string* why) = 0;
  // Loads the plug-in at `module_path` (a path text; relative to the current folder) and calls
  // its register entry, or its unregister entry.
  virtual HRESULT RegisterServer(std::string_view module_path, bool unregister,
                                 std::string* why) = 0;

  HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** out) {
    return CreateInstance(clsid, iid, out, nullptr);
  }
  // RegisterServer for the launcher's "Regsvr32", as its exit code.
  int RegisterPlugin(std::string_view module_path, bool unregister, std::string* why) final;
  // CLSIDFromProgID, then CreateInstance.
  HRESULT CreateByProgID(std::string_view prog_id, const IID& iid, void** out,
                         std::string* why = nullptr);
};

template <>
ComponentFactory& DefaultFacility<ComponentFactory>();

// The real factory (dlopen of plug-ins) over the given key store. The default facility is one
// over the key store installed at the time of each call.
std::unique_ptr<ComponentFactory> NewPluginComponentFactory(KeyStore& keys);

// Typed creation: CreateInstance for I::kIid into an owned reference.
template <class I>
ComPtr<I> CreateComponent(ComponentFactory& factory, const CLSID& clsid,
                          std::string* why = nullptr) {
  ComPtr<I> object;
  factory.CreateInstance(clsid, I::kIid, object.PutVoid(), why);
  return object;
}

}  // namespace snx::platform

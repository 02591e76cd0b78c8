// Class keys and the shared bodies of a plug-in's exported entries.

#include <string>

#include "components/component_factory.h"
#include "components/component_object.h"
#include "platform/key_store.h"

namespace snx::platform {

namespace {

// Creates `path` under HKEY_CLASSES_ROOT and sets its values; a pair with an empty name is the
// key's default value.
bool WriteKey(KeyStore& keys, const std::string& path,
              std::initializer_list<std::pair<const char*, std::string>> values) {
  HKEY key = nullptr;
  if (keys.CreateKey(HKEY_CLASSES_ROOT, path, key) != RegResult::kOk) return false;
  bool ok = true;
  for (const auto& [name, text] : values) {
    ok = ok && keys.SetValue(key, name, RegValue::String(text)) == RegResult::kOk;
  }
  keys.CloseKey(key);
  return ok;
}

bool RemoveTree(KeyStore& keys, const std::string& path) {
  const RegResult r = keys.DeleteTree(HKEY_CLASSES_ROOT, path);
  return r == RegResult::kOk || r == RegResult::kNotFound;
}

}  // namespace

HRESULT RegisterClassKeys(KeyStore& keys, const ClassInfo& info, std::string_view module_path) {
  const std::string clsid = GuidToString(info.clsid);
  const std::string prog_id = info.prog_id;
  const std::string versioned = prog_id + ".1";
  const std::string description = info.description;
  const std::string class_key = "CLSID\\" + clsid;
  const bool ok = !prog_id.empty() && WriteKey(keys, prog_id, {{"", description}}) &&
                  WriteKey(keys, prog_id + "\\CLSID", {{"", clsid}}) &&
                  WriteKey(keys, versioned, {{"", description}}) &&
                  WriteKey(keys, versioned + "\\CLSID", {{"", clsid}}) &&
                  WriteKey(keys, class_key, {{"", description}}) &&
                  WriteKey(keys, class_key + "\\ProgID", {{"", versioned}}) &&
                  WriteKey(keys, class_key + "\\VersionIndependentProgID", {{"", prog_id}}) &&
                  WriteKey(keys, class_key + "\\InprocServer32",
                           {{"", std::string(module_path)}, {"ThreadingModel", "Both"}});
  return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT UnregisterClassKeys(KeyStore& keys, const ClassInfo& info) {
  const std::string prog_id = info.prog_id;
  if (prog_id.empty()) return SELFREG_E_CLASS;
  const bool ok = RemoveTree(keys, prog_id) && RemoveTree(keys, prog_id + ".1") &&
                  RemoveTree(keys, "CLSID\\" + GuidToString(info.clsid));
  return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT PluginGetClassObject(const std::vector<ClassInfo>& classes, IUnknown* (*make)(const CLSID&),
                             const CLSID& clsid, const IID& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (const ClassInfo& info : classes) {
    if (!(info.clsid == clsid)) continue;
    ClassFactory* factory = ClassFactory::New([make, clsid]() { return make(clsid); });
    return HandOver(factory, iid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT PluginRegister(const std::vector<ClassInfo>& classes, const RegistrationContext* context,
                       bool unregister) {
  if (context == nullptr || context->abi_version != kPluginAbiVersion || context->keys == nullptr ||
      context->module_path == nullptr) {
    return E_INVALIDARG;
  }
  HRESULT result = S_OK;
  for (const ClassInfo& info : classes) {
    const HRESULT hr = unregister ? UnregisterClassKeys(*context->keys, info)
                                  : RegisterClassKeys(*context->keys, info, context->module_path);
    if (FAILED(hr)) result = hr;
  }
  return result;
}

HRESULT PluginCanUnloadNow() {
  return ModuleObjectCount().load(std::memory_order_relaxed) == 0 ? S_OK : S_FALSE;
}

}  // namespace snx::platform

// The component factory over plug-ins: shared objects loaded through the platform, kept loaded
// once an object of them was made.

#include <string>

#include "components/component_factory.h"
#include "platform/key_store.h"
#include "platform/no_destructor.h"
#include "platform/path_map.h"
#include "platform/shared_library.h"

namespace snx::platform {

namespace {

void Say(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
}

template <class Fn>
Fn Entry(void* handle, const char* name, const std::string& path, std::string* why) {
  void* symbol = SharedObjectSymbol(handle, name);
  if (symbol == nullptr) Say(why, "not a plug-in: " + path + " has no entry " + name);
  return reinterpret_cast<Fn>(symbol);
}

// The default value of HKCR\<path>, or "" when it cannot be read.
std::string ReadDefault(KeyStore& keys, const std::string& path) {
  HKEY key = nullptr;
  if (keys.OpenKey(HKEY_CLASSES_ROOT, path, key) != RegResult::kOk) return "";
  RegValue value;
  const RegResult read = keys.QueryValue(key, "", value);
  keys.CloseKey(key);
  return read == RegResult::kOk && value.type == RegType::kString ? value.text : "";
}

class PluginComponentFactory final : public ComponentFactory {
 public:
  // Null: the key store installed at each call.
  explicit PluginComponentFactory(KeyStore* keys) : keys_(keys) {}

  HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** out,
                         std::string* why) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    const std::string id = GuidToString(clsid);
    const std::string path = ReadDefault(Keys(), "CLSID\\" + id + "\\InprocServer32");
    if (path.empty()) {
      Say(why, "class " + id + " is not registered");
      return REGDB_E_CLASSNOTREG;
    }
    const std::string posix = ToPosixPath(path);
    void* handle = LoadSharedObject(posix, why);
    if (handle == nullptr) return CO_E_DLLNOTFOUND;
    const auto get = Entry<GetClassObjectFn>(handle, kGetClassObjectSymbol, posix, why);
    if (get == nullptr) return CO_E_ERRORINDLL;
    IClassFactory* factory = nullptr;
    HRESULT hr = get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr) || factory == nullptr) {
      Say(why, posix + " does not serve class " + id);
      return FAILED(hr) ? hr : CLASS_E_CLASSNOTAVAILABLE;
    }
    hr = factory->CreateInstance(nullptr, iid, out);
    factory->Release();
    if (FAILED(hr)) Say(why, posix + " could not make an object of class " + id);
    return hr;
  }

  HRESULT CLSIDFromProgID(std::string_view prog_id, CLSID& out, std::string* why) override {
    if (prog_id.empty() || !KeyTree::IsValidPath(prog_id)) {
      Say(why, "bad ProgID");
      return CO_E_CLASSSTRING;
    }
    const auto clsid = GuidFromString(ReadDefault(Keys(), std::string(prog_id) + "\\CLSID"));
    if (!clsid) {
      Say(why, std::string(prog_id) + " is not registered");
      return CO_E_CLASSSTRING;
    }
    out = *clsid;
    return S_OK;
  }

  HRESULT RegisterServer(std::string_view module_path, bool unregister, std::string* why) override {
    std::string posix = ToPosixPath(module_path);
    if (posix.empty()) {
      Say(why, "no file named");
      return CO_E_DLLNOTFOUND;
    }
    // The class keys name the plug-in by its full path, so that any current folder finds it.
    if (posix[0] != '/') posix = ResolvedPath(posix);
    // Registering makes no object: the plug-in is let go afterwards, and is loaded again (and
    // kept) when an object of it is first asked for.
    const BriefSharedObject module = LoadSharedObjectBriefly(posix, why);
    if (module == nullptr) return CO_E_DLLNOTFOUND;
    const char* name = unregister ? kUnregisterServerSymbol : kRegisterServerSymbol;
    const auto entry = Entry<RegisterServerFn>(module.get(), name, posix, why);
    if (entry == nullptr) return CO_E_ERRORINDLL;
    RegistrationContext context;
    context.keys = &Keys();
    context.module_path = posix.c_str();
    const HRESULT hr = entry(&context);
    if (FAILED(hr))
      Say(why, posix + (unregister ? " refused to unregister" : " refused to register"));
    return hr;
  }

 private:
  KeyStore& Keys() { return keys_ != nullptr ? *keys_ : Use<KeyStore>(); }
  KeyStore* keys_;
};

}  // namespace

std::unique_ptr<ComponentFactory> NewPluginComponentFactory(KeyStore& keys) {
  return std::make_unique<PluginComponentFactory>(&keys);
}

template <>
ComponentFactory& DefaultFacility<ComponentFactory>() {
  static NoDestructor<PluginComponentFactory> factory(nullptr);
  return *factory.get();
}

}  // namespace snx::platform

// The component factory over plug-ins: shared objects loaded with dlopen and kept loaded.

#include <dlfcn.h>
#include <sys/stat.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/component_factory.h"
#include "platform/file_trust.h"
#include "platform/key_store.h"
#include "platform/path_map.h"
#include "platform/posix/no_destructor.h"

namespace snx::platform {

namespace {

void Say(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
}

// The loaded plug-ins of this process, by the path they were loaded from. Never unloaded: an
// object of a plug-in may outlive every reference the factory knows of.
class ModuleCache {
 public:
  // The handle of the plug-in at `path` (a POSIX path), loading it on first use. The service
  // runs the plug-in's code as root: a file that others may change is refused at every use,
  // also when it was loaded before it became so.
  void* Load(const std::string& path, std::string* why) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = modules_.find(path);
    if (it == modules_.end()) {
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) {
        Say(why, "cannot find file: " + path);
        return nullptr;
      }
      if (!S_ISREG(st.st_mode)) {
        Say(why, "not a file: " + path);
        return nullptr;
      }
    }
    if (const std::string untrusted = UntrustedFileReason(path); !untrusted.empty()) {
      Say(why, "refused: the plug-in " + path + " " + untrusted);
      return nullptr;
    }
    if (it != modules_.end()) return it->second;
    // A name without "/" would be searched on the library path; load exactly this file.
    const std::string load_path = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    void* handle = ::dlopen(load_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* error = dlerror();
      Say(why, "not a plug-in: " + path + " (" + (error != nullptr ? error : "cannot load") + ")");
      return nullptr;
    }
    modules_.emplace(path, handle);
    return handle;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, void*> modules_;
};

ModuleCache& Modules() {
  static NoDestructor<ModuleCache> cache;
  return *cache.get();
}

template <class Fn>
Fn Entry(void* handle, const char* name, const std::string& path, std::string* why) {
  void* symbol = ::dlsym(handle, name);
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
    void* handle = Modules().Load(posix, why);
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
    if (posix[0] != '/') {
      if (char* real = ::realpath(posix.c_str(), nullptr); real != nullptr) {
        posix = real;
        ::free(real);
      }
    }
    void* handle = Modules().Load(posix, why);
    if (handle == nullptr) return CO_E_DLLNOTFOUND;
    const char* name = unregister ? kUnregisterServerSymbol : kRegisterServerSymbol;
    const auto entry = Entry<RegisterServerFn>(handle, name, posix, why);
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

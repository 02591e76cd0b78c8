// Shared objects loaded with dlopen and kept loaded, one handle per path.

#include "platform/shared_library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/file_trust.h"
#include "platform/no_destructor.h"

namespace snx::platform {

namespace {

void Say(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
}

// The loaded shared objects of this process, by the path they were loaded from.
class ModuleCache {
 public:
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

}  // namespace

void* LoadSharedObject(const std::string& path, std::string* why) {
  return Modules().Load(path, why);
}

void* SharedObjectSymbol(void* handle, const char* name) { return ::dlsym(handle, name); }

std::string ResolvedPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved = real;
  ::free(real);
  return resolved;
}

}  // namespace snx::platform

// Shared objects loaded with dlopen: kept loaded, one handle per path, or let go after one call.

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

// The checks of every load: the file is there, a regular file, and trusted.
bool MayLoad(const std::string& path, bool first, std::string* why) {
  if (first) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      Say(why, "cannot find file: " + path);
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      Say(why, "not a file: " + path);
      return false;
    }
  }
  if (const std::string untrusted = UntrustedFileReason(path); !untrusted.empty()) {
    Say(why, "refused: the plug-in " + path + " " + untrusted);
    return false;
  }
  return true;
}

void* Open(const std::string& path, std::string* why) {
  const std::string load_path = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  void* handle = ::dlopen(load_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    Say(why, "not a plug-in: " + path + " (" + (error != nullptr ? error : "cannot load") + ")");
  }
  return handle;
}

// The loaded shared objects of this process, by the path they were loaded from.
class ModuleCache {
 public:
  void* Load(const std::string& path, std::string* why) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = modules_.find(path);
    if (!MayLoad(path, it == modules_.end(), why)) return nullptr;
    if (it != modules_.end()) return it->second;
    void* handle = Open(path, why);
    if (handle != nullptr) modules_.emplace(path, handle);
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

void SharedObjectCloser::operator()(void* handle) const {
  if (handle != nullptr) ::dlclose(handle);
}

BriefSharedObject LoadSharedObjectBriefly(const std::string& path, std::string* why) {
  if (!MayLoad(path, true, why)) return nullptr;
  return BriefSharedObject(Open(path, why));
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

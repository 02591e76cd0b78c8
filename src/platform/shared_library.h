#pragma once
// Loading shared objects (the plug-ins) into the process. A loaded file stays loaded for the
// life of the process: an object made by its code may outlive every reference its loader knows.

#include <memory>
#include <string>

namespace snx::platform {

// The handle of the shared object at the POSIX path `path`, loaded on first use and kept. A
// path without "/" names the file in the current folder, never one searched on the library
// path. The service runs the code it loads as root: a file that others may change is refused at
// every call, also when it was loaded before it became so. Null, with the reason in `why`, when
// the file is missing, not a regular file, not to be trusted or not loadable.
void* LoadSharedObject(const std::string& path, std::string* why);

// A shared object loaded for one call and let go after it (registering a plug-in), so that a
// plug-in the process never makes an object of does not stay in its memory. Loaded with the
// same checks as LoadSharedObject; while that one holds the file too, it stays loaded.
struct SharedObjectCloser {
  void operator()(void* handle) const;
};
using BriefSharedObject = std::unique_ptr<void, SharedObjectCloser>;
BriefSharedObject LoadSharedObjectBriefly(const std::string& path, std::string* why);

// The address of the symbol `name` of a loaded shared object, or null.
void* SharedObjectSymbol(void* handle, const char* name);

// The full path of the file at `path`, through links and "..", or `path` as it is when it
// cannot be resolved.
std::string ResolvedPath(const std::string& path);

}  // namespace snx::platform

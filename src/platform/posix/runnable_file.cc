#include "platform/runnable_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace snx::platform {

bool IsRunnableFile(std::string_view path) {
  const std::string p(path);
  struct stat st {};
  return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(p.c_str(), X_OK) == 0;
}

}  // namespace snx::platform

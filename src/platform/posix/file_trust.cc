#include "platform/file_trust.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/path_map.h"
#include "platform/privileges.h"

namespace snx::platform {

namespace {

std::string Octal(unsigned mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", mode & 07777u);
  return text;
}

std::string ForeignOwner(uid_t owner) {
  const uid_t self = ::geteuid();
  if (owner == 0 || owner == self) return std::string();
  return "owned by uid " + std::to_string(owner) + ", neither root nor the service's user (uid " +
         std::to_string(self) + ")";
}

// The folder holding `path` ("." for a bare name), ending with "/".
std::string FolderOf(const std::string& path) {
  const std::size_t cut = path.rfind('/');
  if (cut == std::string::npos) return "./";
  return path.substr(0, cut + 1);
}

// "" when no one but root or the service's user can replace a file in `folder`.
std::string FolderReason(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0)
    return "lies in " + folder + ", a folder that cannot be examined";
  if (const std::string owner = ForeignOwner(st.st_uid); !owner.empty()) {
    return "lies in " + folder + ", a folder " + owner;
  }
  if ((st.st_mode & S_ISVTX) != 0) return std::string();
  if ((st.st_mode & S_IWOTH) != 0) {
    return "lies in " + folder + ", a folder writable by everyone (mode " + Octal(st.st_mode) + ")";
  }
  if ((st.st_mode & S_IWGRP) != 0) {
    return "lies in " + folder + ", a folder writable by its group (mode " + Octal(st.st_mode) +
           ")";
  }
  return std::string();
}

}  // namespace

std::string UntrustedFileReason(std::string_view path_text) {
  const std::string path = ToPosixPath(path_text);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return errno == ENOENT ? std::string() : "cannot be examined";
  }
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (const std::string owner = ForeignOwner(st.st_uid); !owner.empty()) return "is " + owner;
  if ((st.st_mode & S_IWOTH) != 0)
    return "is writable by everyone (mode " + Octal(st.st_mode) + ")";
  if ((st.st_mode & S_IWGRP) != 0) {
    return "is writable by its group (mode " + Octal(st.st_mode) + ")";
  }
  std::string why = FolderReason(FolderOf(path));
  if (why.empty()) {
    if (char* real = ::realpath(path.c_str(), nullptr); real != nullptr) {
      const std::string target(real);
      ::free(real);
      if (FolderOf(target) != FolderOf(path)) why = FolderReason(FolderOf(target));
    }
  }
  return why;
}

bool HasDebugPrivilege() {
  if (::geteuid() == 0) return true;
  // CapEff of /proc/self/status: the effective capabilities as hex.
  std::ifstream status("/proc/self/status");
  std::string line;
  int lines = 0;
  while (std::getline(status, line) && ++lines < 200) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    unsigned long long caps = 0;
    if (std::sscanf(line.c_str() + 7, "%llx", &caps) != 1) return false;
    constexpr int kCapSysPtrace = 19;
    return (caps >> kCapSysPtrace & 1ULL) != 0;
  }
  return false;
}

}  // namespace snx::platform

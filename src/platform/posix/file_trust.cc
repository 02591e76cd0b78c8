#include "platform/file_trust.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

}  // namespace

std::string UntrustedFileReason(std::string_view path_text) {
  const std::string path = ToPosixPath(path_text);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return errno == ENOENT ? std::string() : "cannot be examined";
  }
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  const uid_t self = ::geteuid();
  if (st.st_uid != 0 && st.st_uid != self) {
    return "is owned by uid " + std::to_string(st.st_uid) +
           ", neither root nor the service's user (uid " + std::to_string(self) + ")";
  }
  if ((st.st_mode & S_IWOTH) != 0)
    return "is writable by everyone (mode " + Octal(st.st_mode) + ")";
  if ((st.st_mode & S_IWGRP) != 0) {
    return "is writable by its group (mode " + Octal(st.st_mode) + ")";
  }
  return std::string();
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

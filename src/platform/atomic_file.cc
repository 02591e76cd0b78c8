#include "platform/atomic_file.h"

#include <cstdio>
#include <random>
#include <string>

namespace snx::platform {
namespace {

// A fresh name beside the file: "<path>.<8 hex digits>.new".
std::string TemporaryName(std::string_view path) {
  static thread_local std::mt19937 random{std::random_device{}()};
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
  return std::string(path) + suffix + ".new";
}

}  // namespace

bool ReplaceFileWith(FileSystem& files, std::string_view path, std::string_view bytes,
                     unsigned mode) {
  // A name that another writer happens to hold is simply drawn again.
  std::string temp;
  std::unique_ptr<File> file;
  for (int attempt = 0; attempt < 4 && !file; ++attempt) {
    temp = TemporaryName(path);
    file = files.Open(temp, "wbx", mode);
  }
  if (!file) return false;  // Open said why
  const bool written = file->Write(bytes) && file->Sync();
  const bool closed = file->Close();
  file.reset();
  // The mode is set again: the umask may have taken bits the file needs (or none were asked).
  if (!written || !closed || !files.SetPermissions(temp, mode) || !files.Rename(temp, path)) {
    SetLastFileError("cannot write " + std::string(path) + " (through " + temp + ")");
    files.Delete(temp);
    return false;
  }
  files.SyncFolder(path);  // the new file is whole already; this keeps the rename
  return true;
}

}  // namespace snx::platform

#pragma once
// A file system that hands every call to another one (the real one by default). A test derives
// from it and overrides only the calls it wants to fail or watch.

#include "platform/file_system.h"

namespace snx::platform {

class ForwardingFileSystem : public FileSystem {
 public:
  ForwardingFileSystem();
  explicit ForwardingFileSystem(FileSystem& target) : target_(target) {}

  std::unique_ptr<File> Open(std::string_view path, std::string_view mode,
                             unsigned create_mode = 0666) override;
  bool Exists(std::string_view path) override;
  bool FolderExists(std::string_view path) override;
  bool Delete(std::string_view path) override;
  bool Copy(std::string_view source, std::string_view target) override;
  bool Rename(std::string_view source, std::string_view target) override;
  std::optional<std::int64_t> Size(std::string_view path) override;
  std::optional<FileIdentity> Identity(std::string_view path) override;
  bool MakeFolders(std::string_view path) override;
  bool SetPermissions(std::string_view path, unsigned mode) override;
  std::string ExecutablePath() override;
  std::optional<std::string> LoadedModulePath(std::string_view file_name) override;
  std::string CurrentFolder() override;
  bool ChangeFolder(std::string_view path) override;
  bool SyncFolder(std::string_view path) override;
  std::unique_ptr<FileLock> LockForUpdate(std::string_view path,
                                          std::chrono::milliseconds wait) override;

  FileSystem& target() { return target_; }

 private:
  FileSystem& target_;
};

}  // namespace snx::platform

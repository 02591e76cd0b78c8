#include "platform/fake/forwarding_file_system.h"

namespace snx::platform {

ForwardingFileSystem::ForwardingFileSystem() : target_(DefaultFacility<FileSystem>()) {}

std::unique_ptr<File> ForwardingFileSystem::Open(std::string_view path, std::string_view mode,
                                                 unsigned create_mode) {
  return target_.Open(path, mode, create_mode);
}
bool ForwardingFileSystem::Exists(std::string_view path) { return target_.Exists(path); }
bool ForwardingFileSystem::FolderExists(std::string_view path) {
  return target_.FolderExists(path);
}
bool ForwardingFileSystem::Delete(std::string_view path) { return target_.Delete(path); }
bool ForwardingFileSystem::Copy(std::string_view source, std::string_view target) {
  return target_.Copy(source, target);
}
bool ForwardingFileSystem::Rename(std::string_view source, std::string_view target) {
  return target_.Rename(source, target);
}
std::optional<std::int64_t> ForwardingFileSystem::Size(std::string_view path) {
  return target_.Size(path);
}

std::optional<FileIdentity> ForwardingFileSystem::Identity(std::string_view path) {
  return target_.Identity(path);
}
bool ForwardingFileSystem::MakeFolders(std::string_view path) { return target_.MakeFolders(path); }
bool ForwardingFileSystem::SetPermissions(std::string_view path, unsigned mode) {
  return target_.SetPermissions(path, mode);
}
std::string ForwardingFileSystem::ExecutablePath() { return target_.ExecutablePath(); }
std::optional<std::string> ForwardingFileSystem::LoadedModulePath(std::string_view file_name) {
  return target_.LoadedModulePath(file_name);
}
std::string ForwardingFileSystem::CurrentFolder() { return target_.CurrentFolder(); }
bool ForwardingFileSystem::ChangeFolder(std::string_view path) {
  return target_.ChangeFolder(path);
}

bool ForwardingFileSystem::SyncFolder(std::string_view path) { return target_.SyncFolder(path); }
std::unique_ptr<FileLock> ForwardingFileSystem::LockForUpdate(std::string_view path,
                                                              std::chrono::milliseconds wait) {
  return target_.LockForUpdate(path, wait);
}

}  // namespace snx::platform

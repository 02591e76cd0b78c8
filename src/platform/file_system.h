#pragma once
// Files and folders. Every path handed to the file system is a path text of the system; the
// implementation maps it with ToPosixPath before it touches the disk.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/installed.h"

namespace snx::platform {

enum class ReadResult { kOk, kEnd, kError };

// What tells one version of a file from another without reading it: a rename puts a new inode
// in place, an edit in place changes the size or the modification time.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;
  bool operator==(const FileIdentity&) const = default;
};

// An open buffered file stream.
class File {
 public:
  virtual ~File() = default;
  virtual ReadResult ReadChar(char& c) = 0;
  // Reads up to n bytes; 0 at the end or on an error (Failed() tells which).
  virtual std::size_t Read(char* buffer, std::size_t n) = 0;
  virtual bool Write(std::string_view bytes) = 0;
  virtual bool Flush() = 0;
  // Flushes and asks the disk to keep what was written (fsync).
  virtual bool Sync() = 0;
  virtual bool Failed() = 0;
  virtual bool Close() = 0;
  // Device, inode, size and modification time of the open file (fstat), or nullopt when the
  // stream cannot tell.
  virtual std::optional<FileIdentity> Identity() { return std::nullopt; }
};

// Held while a file is read, changed and replaced (see FileSystem::LockForUpdate); letting it
// go releases the lock.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens with a stdio mode ("rb", "r+b", "a+b", "w+b"; an "x" makes the call fail when the
  // file exists). A file that the call creates gets `create_mode` permissions (before the
  // umask). Every mode that can write or create refuses a symbolic link as the last component
  // of the path. Null on failure; LastFileError() then says why.
  virtual std::unique_ptr<File> Open(std::string_view path, std::string_view mode,
                                     unsigned create_mode = 0666) = 0;
  // True for a file or a folder.
  virtual bool Exists(std::string_view path) = 0;
  virtual bool FolderExists(std::string_view path) = 0;
  virtual bool Delete(std::string_view path) = 0;
  // Copies, replacing the target; the target keeps the source's permission bits.
  virtual bool Copy(std::string_view source, std::string_view target) = 0;
  // Atomic replacement of the target on the same file system.
  virtual bool Rename(std::string_view source, std::string_view target) = 0;
  // Size in bytes, or nullopt when the file cannot be opened.
  virtual std::optional<std::int64_t> Size(std::string_view path) = 0;
  // Device, inode, size and modification time of the file (the link itself is not followed
  // through: a symbolic link's target is described), or nullopt when there is none.
  virtual std::optional<FileIdentity> Identity(std::string_view path) = 0;
  // Creates the folder and its parents; true when it exists afterwards.
  virtual bool MakeFolders(std::string_view path) = 0;
  virtual bool SetPermissions(std::string_view path, unsigned mode) = 0;
  // Full POSIX path of the running executable.
  virtual std::string ExecutablePath() = 0;
  // Full path of a loaded module (shared object) of that file name, or nullopt.
  virtual std::optional<std::string> LoadedModulePath(std::string_view file_name) = 0;
  virtual std::string CurrentFolder() = 0;
  virtual bool ChangeFolder(std::string_view path) = 0;
  // Syncs the folder that holds `path`, so that a rename into it survives a power loss.
  virtual bool SyncFolder(std::string_view path) = 0;
  // Takes an exclusive lock for a read-modify-write of `path`: an advisory lock on the lock
  // file beside it (`path` + ".lock"), shared by every process and serialising the threads of
  // this one. Waits at most `wait`; null (and LastFileError()) when it cannot be had. Not
  // re-entrant: a thread holding the lock of a path must not ask for it again.
  virtual std::unique_ptr<FileLock> LockForUpdate(std::string_view path,
                                                  std::chrono::milliseconds wait) = 0;
};

// Why the last failed Open, LockForUpdate or ReplaceFileWith of this thread failed, or the last
// failed write, flush or close of a File, naming the file ("cannot open /srv/snx/SNXSVC.log: it
// is a symbolic link ...", "cannot write /srv/snx/SNXSVC.log: No space left on device").
std::string LastFileError();
void SetLastFileError(std::string text);

template <>
FileSystem& DefaultFacility<FileSystem>();

inline FileSystem& Files() { return Use<FileSystem>(); }

}  // namespace snx::platform

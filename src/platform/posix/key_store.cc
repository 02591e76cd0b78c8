// The key store on Linux: one readable text file per root in the state folder
// ($SNX_ROOT/var/lib/snxsvc/HKEY_LOCAL_MACHINE.reg and HKEY_CLASSES_ROOT.reg).
//
// Readers read the whole file without a lock: a file is only ever replaced by rename, so a
// reader sees either the old or the new one whole. A writer takes an exclusive flock on the
// root's lock file (beside it, ".lock"), reads the current file under the lock, changes it, and
// replaces the file atomically (ReplaceFileWith: a fresh temporary, synced, renamed, folder
// synced). Two processes that write at once therefore run one after the other, and each sees
// the other's change. Neither the store nor its lock file is ever opened through a symlink.

#include "platform/key_store.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>

#include "platform/atomic_file.h"
#include "platform/debug_sink.h"
#include "platform/file_system.h"
#include "platform/no_destructor.h"
#include "platform/path_map.h"
#include "platform/posix/fs_util.h"

namespace snx::platform {
namespace {

constexpr std::size_t kMaxStoreBytes = 64u << 20;

std::string StoreFile(RegRoot root) { return StateDir() + "/" + RootName(root) + ".reg"; }

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The file's bytes; a missing file reads as empty.
RegResult ReadWhole(const std::string& path, std::string& out) {
  out.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? RegResult::kOk : RegResult::kIoError;
  char buffer[16384];
  while (true) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) return RegResult::kOk;
    if (n < 0) {
      if (errno == EINTR) continue;
      return RegResult::kIoError;
    }
    out.append(buffer, static_cast<std::size_t>(n));
    if (out.size() > kMaxStoreBytes) return RegResult::kIoError;
  }
}

class PosixKeyStore : public KeyStore {
 protected:
  RegResult Read(RegRoot root, KeyTree& tree) override {
    std::string bytes;
    const RegResult read = ReadWhole(StoreFile(root), bytes);
    if (read != RegResult::kOk) return read;
    int bad_lines = 0;
    int first_bad = 0;
    // A reader takes what it can read; only writers refuse a damaged file.
    tree = KeyTree::Parse(bytes, bad_lines, first_bad);
    return RegResult::kOk;
  }

  RegResult Modify(RegRoot root, const Change& change) override {
    std::lock_guard<std::mutex> in_process(mutex_);
    const std::string dir = StateDir();
    if (!posix::MakeFolderTree(dir)) return RegResult::kIoError;
    const std::string file = StoreFile(root);
    FileSystem& files = DefaultFacility<FileSystem>();
    const std::unique_ptr<FileLock> lock = files.LockForUpdate(file, kUpdateLockWait);
    if (!lock) {
      DebugOutput("key store: " + LastFileError());
      return LastFileError().starts_with("cannot lock") ? RegResult::kBusy : RegResult::kIoError;
    }

    std::string bytes;
    const RegResult read = ReadWhole(file, bytes);
    if (read != RegResult::kOk) return read;
    int bad_lines = 0;
    int first_bad = 0;
    KeyTree tree = KeyTree::Parse(bytes, bad_lines, first_bad);
    // Rewriting a file with lines we cannot read would drop them: leave it to the administrator.
    if (bad_lines > 0) return RegResult::kCorrupt;

    bool changed = false;
    const RegResult result = change(tree, changed);
    if (result != RegResult::kOk || !changed) return result;
    if (ReplaceFileWith(files, file, tree.Serialize(root), 0600)) return RegResult::kOk;
    DebugOutput("key store: " + LastFileError());
    return RegResult::kIoError;
  }

 private:
  std::mutex mutex_;
};

}  // namespace

template <>
KeyStore& DefaultFacility<KeyStore>() {
  static NoDestructor<PosixKeyStore> store;
  return *store.get();
}

}  // namespace snx::platform

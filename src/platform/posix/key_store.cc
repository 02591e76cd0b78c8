// The key store on Linux: one readable text file per root in the state folder
// ($SNX_ROOT/var/lib/snxsvc/HKEY_LOCAL_MACHINE.reg and HKEY_CLASSES_ROOT.reg).
//
// Readers read the whole file without a lock: a file is only ever replaced by rename, so a
// reader sees either the old or the new one whole. A writer takes an exclusive flock on the
// root's lock file (beside it, ".lock"), reads the current file under the lock, changes it, and
// writes the result to ".new", which is synced and renamed over the file. Two processes that
// write at once therefore run one after the other, and each sees the other's change.

#include "platform/key_store.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/path_map.h"
#include "platform/posix/fs_util.h"
#include "platform/posix/no_destructor.h"

namespace snx::platform {
namespace {

constexpr auto kLockWait = std::chrono::seconds(10);
constexpr auto kLockPoll = std::chrono::milliseconds(5);
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
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

// The file's bytes; a missing file reads as empty.
RegResult ReadWhole(const std::string& path, std::string& out) {
  out.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes the bytes to `path` + ".new" (owner read and write only), syncs it and renames it over
// `path`; the folder is synced so that the rename survives a crash. The old file stays on every
// failure.
bool ReplaceFile(const std::string& path, const std::string& bytes) {
  const std::string temp = path + ".new";
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (fd.get() < 0) return false;
  bool ok = ::fchmod(fd.get(), 0600) == 0 && WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  ok = fd.Close() && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

// Holds the exclusive lock of one root's store file for its lifetime.
class StoreLock {
 public:
  explicit StoreLock(const std::string& store_file)
      : fd_(::open((store_file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {}
  // Waits for the lock, at most kLockWait.
  RegResult Acquire() {
    if (fd_.get() < 0) return RegResult::kIoError;
    Clock& clock = Use<Clock>();
    const auto deadline = clock.MonoNow() + kLockWait;
    while (true) {
      if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) return RegResult::kOk;
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) return RegResult::kIoError;
      if (clock.MonoNow() >= deadline) return RegResult::kBusy;
      clock.SleepFor(kLockPoll);
    }
  }

 private:
  Fd fd_;  // closing it releases the lock
};

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
    StoreLock lock(file);
    const RegResult locked = lock.Acquire();
    if (locked != RegResult::kOk) return locked;

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
    return ReplaceFile(file, tree.Serialize(root)) ? RegResult::kOk : RegResult::kIoError;
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

// The real file system. Every path text is mapped with ToPosixPath before it reaches the disk.

#include "platform/file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ascii.h"
#include "platform/no_destructor.h"
#include "platform/path_map.h"
#include "platform/posix/fs_util.h"

namespace snx::platform {
namespace {

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.inode = static_cast<std::uint64_t>(st.st_ino);
  id.size = static_cast<std::int64_t>(st.st_size);
  id.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

// A FILE* opened over a descriptor. stdio wants a flush or a seek between writing and reading
// on an update stream; the stream does that itself, so callers may mix the two freely.
void NoteOpenFailure(std::string_view what, const std::string& path, int error);

// A failing write, flush or close leaves "cannot write PATH: why" in LastFileError(), so that
// whoever loses the bytes can say why (a full disk, a quota).
class PosixFile : public File {
 public:
  PosixFile(FILE* stream, std::string path) : stream_(stream), path_(std::move(path)) {}
  ~PosixFile() override { Close(); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  ReadResult ReadChar(char& c) override {
    if (stream_ == nullptr || !SwitchTo(Op::kRead)) return ReadResult::kError;
    const int got = std::getc(stream_);
    if (got == EOF) return std::ferror(stream_) ? ReadResult::kError : ReadResult::kEnd;
    c = static_cast<char>(got);
    return ReadResult::kOk;
  }

  std::size_t Read(char* buffer, std::size_t n) override {
    if (stream_ == nullptr || n == 0 || !SwitchTo(Op::kRead)) return 0;
    return std::fread(buffer, 1, n, stream_);
  }

  bool Write(std::string_view bytes) override {
    if (stream_ == nullptr || !SwitchTo(Op::kWrite)) return false;
    if (bytes.empty()) return true;
    return Noted(std::fwrite(bytes.data(), 1, bytes.size(), stream_) == bytes.size());
  }

  bool Flush() override { return stream_ != nullptr && Noted(std::fflush(stream_) == 0); }

  bool Sync() override { return Flush() && ::fsync(::fileno(stream_)) == 0; }

  bool Failed() override { return stream_ == nullptr || std::ferror(stream_) != 0; }

  std::optional<FileIdentity> Identity() override {
    struct stat st {};
    if (stream_ == nullptr || ::fstat(::fileno(stream_), &st) != 0) return std::nullopt;
    return IdentityOf(st);
  }

  bool Close() override {
    if (stream_ == nullptr) return false;
    const bool ok = std::fclose(stream_) == 0;
    stream_ = nullptr;
    return Noted(ok);
  }

 private:
  bool Noted(bool ok) {
    if (!ok && errno != 0) NoteOpenFailure("write", path_, errno);
    return ok;
  }

  enum class Op { kNone, kRead, kWrite };

  bool SwitchTo(Op op) {
    if (last_ != Op::kNone && last_ != op) {
      const bool ok =
          last_ == Op::kWrite ? std::fflush(stream_) == 0 : std::fseek(stream_, 0, SEEK_CUR) == 0;
      if (!ok) return false;
    }
    last_ = op;
    return true;
  }

  FILE* stream_;
  std::string path_;
  Op last_ = Op::kNone;
};

thread_local std::string t_last_error;

// "cannot open PATH: why", with the reason a refused symbolic link really has.
void NoteOpenFailure(std::string_view what, const std::string& path, int error) {
  std::string text = "cannot " + std::string(what) + " " + path + ": ";
  // O_NOFOLLOW fails with ELOOP on a symbolic link as the last component.
  text += error == ELOOP ? "it is a symbolic link, and files are never written through one"
                         : std::strerror(error);
  SetLastFileError(std::move(text));
}

// open(2) flags for a stdio mode; false for a mode stdio would refuse. A mode that writes or
// creates never follows a symbolic link, so a link planted in the place of a file the service
// writes as root cannot send its writes elsewhere.
bool FlagsForMode(std::string_view mode, int& flags) {
  if (mode.empty()) return false;
  const bool update = mode.find('+') != std::string_view::npos;
  const bool exclusive = mode.find('x') != std::string_view::npos;
  for (char c : mode.substr(1)) {
    if (c != '+' && c != 'b' && c != 't' && c != 'x') return false;
  }
  if (exclusive && mode.front() != 'w') return false;
  switch (mode.front()) {
    case 'r':
      flags = update ? O_RDWR : O_RDONLY;
      break;
    case 'w':
      flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
      break;
    case 'a':
      flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
      break;
    default:
      return false;
  }
  if (exclusive) flags |= O_EXCL;
  if (update || mode.front() != 'r') flags |= O_NOFOLLOW;
  flags |= O_CLOEXEC;
  return true;
}

// The stdio mode without the "x" that fdopen does not need.
std::string StdioMode(std::string_view mode) {
  std::string out;
  for (char c : mode) {
    if (c != 'x') out.push_back(c);
  }
  return out;
}

// The in-process half of LockForUpdate: flock locks of two descriptors conflict even inside
// one process, so the threads of this process queue on a mutex per lock file first.
std::shared_ptr<std::mutex> ThreadGate(const std::string& lock_path) {
  static std::mutex guard;
  static NoDestructor<std::map<std::string, std::shared_ptr<std::mutex>>> gates;
  std::lock_guard<std::mutex> lock(guard);
  auto& gate = (*gates.get())[lock_path];
  if (!gate) gate = std::make_shared<std::mutex>();
  return gate;
}

class PosixFileLock : public FileLock {
 public:
  PosixFileLock(std::shared_ptr<std::mutex> gate, int fd) : gate_(std::move(gate)), fd_(fd) {}
  ~PosixFileLock() override {
    ::close(fd_);  // releases the flock
    gate_->unlock();
  }
  PosixFileLock(const PosixFileLock&) = delete;
  PosixFileLock& operator=(const PosixFileLock&) = delete;

 private:
  std::shared_ptr<std::mutex> gate_;
  int fd_;
};

std::unique_ptr<FileLock> LockPosix(const std::string& path, std::chrono::milliseconds wait) {
  const std::string lock_path = path + ".lock";
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto gate = ThreadGate(lock_path);
  // Polled rather than a timed lock: GCC 12's timed lock is a call ThreadSanitizer does not see,
  // so it would report every unlock as one of an unlocked mutex.
  auto pause = std::chrono::microseconds(100);
  bool gated = gate->try_lock();
  while (!gated && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(pause);
    pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(10));
    gated = gate->try_lock();
  }
  if (!gated) {
    SetLastFileError("cannot lock " + path + ": another update of it did not end in time");
    return nullptr;
  }
  int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  // flock works on a descriptor opened for reading, so a lock file made by another user serves.
  if (fd < 0 && errno == EACCES) fd = ::open(lock_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    NoteOpenFailure("open the lock file", lock_path, errno);
    gate->unlock();
    return nullptr;
  }
  auto step = std::chrono::milliseconds(1);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
      SetLastFileError("cannot lock " + path + ": " +
                       (error == EWOULDBLOCK ? std::string("another process holds ") + lock_path
                                             : std::string(std::strerror(error))));
      ::close(fd);
      gate->unlock();
      return nullptr;
    }
    std::this_thread::sleep_for(step);
    step = std::min(step * 2, std::chrono::milliseconds(10));
  }
  return std::make_unique<PosixFileLock>(std::move(gate), fd);
}

bool WriteAll(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t done = ::write(fd, data, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    n -= static_cast<std::size_t>(done);
  }
  return true;
}

std::string_view BaseName(std::string_view path) {
  std::size_t cut = path.size();
  while (cut > 0 && !IsPathSeparator(path[cut - 1])) --cut;
  return path.substr(cut);
}

// The kernel marks the path of a file replaced while in use.
std::string WithoutDeletedMark(std::string path) {
  constexpr std::string_view kMark = " (deleted)";
  if (path.size() > kMark.size() && path.ends_with(kMark)) path.resize(path.size() - kMark.size());
  return path;
}

// Copies the POSIX file `from` over `to`: into a temporary file beside the target, which then
// replaces it in one rename, so a reader never sees half a copy.
bool CopyPosix(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return false;
  }
  // A hidden name beside the target: ".<name>.copy-XXXXXX".
  const std::size_t slash = to.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string temp = to.substr(0, base);
  temp += '.';
  temp += std::string_view(to).substr(base);
  temp += ".copy-XXXXXX";
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(got))) {
      ok = false;
      break;
    }
  }
  ok = ok && ::fchmod(out, st.st_mode & 07777) == 0;
  ok = ok && ::fsync(out) == 0;
  ok = (::close(out) == 0) && ok;
  ::close(in);
  ok = ok && ::rename(temp.c_str(), to.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(std::string_view path, std::string_view mode,
                             unsigned create_mode) override {
    int flags = 0;
    if (!FlagsForMode(mode, flags)) return nullptr;
    const std::string posix = ToPosixPath(path);
    const int fd = ::open(posix.c_str(), flags, static_cast<mode_t>(create_mode & 07777));
    if (fd < 0) {
      NoteOpenFailure("open", posix, errno);
      return nullptr;
    }
    // A folder opens for reading on Linux; as a file it is no use to anyone.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      NoteOpenFailure("open", posix, EISDIR);
      ::close(fd);
      return nullptr;
    }
    FILE* stream = ::fdopen(fd, StdioMode(mode).c_str());
    if (stream == nullptr) {
      NoteOpenFailure("open", posix, errno);
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixFile>(stream, posix);
  }

  bool Exists(std::string_view path) override {
    struct stat st {};
    return ::stat(ToPosixPath(path).c_str(), &st) == 0;
  }

  bool FolderExists(std::string_view path) override {
    struct stat st {};
    return ::stat(ToPosixPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  bool Delete(std::string_view path) override {
    const std::string posix = ToPosixPath(path);
    if (::unlink(posix.c_str()) == 0) return true;
    // An empty folder goes as well; a folder with anything in it stays.
    return errno == EISDIR && ::rmdir(posix.c_str()) == 0;
  }

  bool Copy(std::string_view source, std::string_view target) override {
    return CopyPosix(ToPosixPath(source), ToPosixPath(target));
  }

  bool Rename(std::string_view source, std::string_view target) override {
    const std::string from = ToPosixPath(source);
    const std::string to = ToPosixPath(target);
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    // Across file systems a file is copied and the source removed.
    if (errno != EXDEV) return false;
    return CopyPosix(from, to) && ::unlink(from.c_str()) == 0;
  }

  std::optional<std::int64_t> Size(std::string_view path) override {
    const int fd = ::open(ToPosixPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    if (!ok) return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
  }

  std::optional<FileIdentity> Identity(std::string_view path) override {
    struct stat st {};
    if (::stat(ToPosixPath(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
    return IdentityOf(st);
  }

  bool MakeFolders(std::string_view path) override {
    return posix::MakeFolderTree(ToPosixPath(path));
  }

  bool SetPermissions(std::string_view path, unsigned mode) override {
    return ::chmod(ToPosixPath(path).c_str(), static_cast<mode_t>(mode & 07777)) == 0;
  }

  std::string ExecutablePath() override {
    std::vector<char> buffer(256);
    for (;;) {
      const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
      if (n < 0) return {};
      if (static_cast<std::size_t>(n) < buffer.size()) {
        return WithoutDeletedMark(std::string(buffer.data(), static_cast<std::size_t>(n)));
      }
      buffer.resize(buffer.size() * 2);
    }
  }

  std::optional<std::string> LoadedModulePath(std::string_view file_name) override {
    // Module names compare without case, as the system's own module names always did.
    const std::string_view wanted = BaseName(file_name);
    if (wanted.empty()) return std::nullopt;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
      // address perms offset dev inode path
      const std::size_t slash = line.find('/');
      if (slash == std::string::npos) continue;
      std::string path = WithoutDeletedMark(line.substr(slash));
      if (EqualsNoCase(BaseName(path), wanted)) return path;
    }
    return std::nullopt;
  }

  std::string CurrentFolder() override {
    std::vector<char> buffer(256);
    for (;;) {
      if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
      if (errno != ERANGE) return {};
      buffer.resize(buffer.size() * 2);
    }
  }

  bool ChangeFolder(std::string_view path) override {
    return ::chdir(ToPosixPath(path).c_str()) == 0;
  }

  bool SyncFolder(std::string_view path) override {
    const std::string posix = ToPosixPath(path);
    const std::size_t slash = posix.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : posix.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
  }

  std::unique_ptr<FileLock> LockForUpdate(std::string_view path,
                                          std::chrono::milliseconds wait) override {
    return LockPosix(ToPosixPath(path), wait);
  }
};

}  // namespace

std::string LastFileError() { return t_last_error; }
void SetLastFileError(std::string text) { t_last_error = std::move(text); }

template <>
FileSystem& DefaultFacility<FileSystem>() {
  static NoDestructor<PosixFileSystem> files;
  return *files.get();
}

}  // namespace snx::platform

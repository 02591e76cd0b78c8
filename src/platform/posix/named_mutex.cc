// Named mutexes: an in-process owner/depth per name, so the threads of this process queue on a
// condition variable, plus an flock on <RuntimeDir>/<name>.lock that other processes contend
// for. flock locks belong to the open file, so two descriptors of one process would conflict
// with each other: each name keeps one descriptor per process, shared by every handle.
//
// A process that dies holding the lock loses its flock with its last descriptor, so the next
// Lock simply acquires it. Nothing is written into the lock file: each log line takes the lock,
// and the fewer system calls it costs the better.
//
// The waits are real time, not the installed Clock's: the lock guards files that other
// processes share, and a test's virtual time must not make a briefly held lock look stuck.

#include "platform/named_mutex.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/debug_sink.h"
#include "platform/no_destructor.h"
#include "platform/path_map.h"
#include "platform/posix/fs_util.h"

namespace snx::platform {
namespace {

using std::chrono::milliseconds;

struct SharedState {
  SharedState(std::string mutex_name, bool shared)
      : name(std::move(mutex_name)), cross_process(shared), pid(::getpid()) {}
  ~SharedState() {
    if (fd >= 0) ::close(fd);
  }
  SharedState(const SharedState&) = delete;
  SharedState& operator=(const SharedState&) = delete;

  const std::string name;
  const bool cross_process;
  const pid_t pid;  // the process that made it; a forked child makes its own

  std::mutex mutex;  // guards every field below
  std::condition_variable released;
  std::thread::id owner;
  int depth = 0;
  bool file_tried = false;
  int fd = -1;
  bool writable = false;
};

std::string LockFileName(std::string_view name) {
  std::string out;
  for (char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    out.push_back(plain ? c : '_');
  }
  return out + ".lock";
}

// Opens the lock file once per state; called with the state's mutex held. Returns the
// complaint to put out (after the mutex is released) when there is no lock file.
std::string OpenLockFile(SharedState& s) {
  if (s.file_tried || !s.cross_process) return {};
  s.file_tried = true;
  const std::string folder = RuntimeDir();
  const std::string path = folder + "/" + LockFileName(s.name);
  int error = 0;
  if (!posix::MakeFolderTree(folder)) {
    error = errno != 0 ? errno : ENOTDIR;
  } else {
    s.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    s.writable = s.fd >= 0;
    // flock works on a descriptor opened for reading, so a file made by another user still
    // serves; only the holder's pid cannot be recorded.
    if (s.fd < 0 && errno == EACCES) s.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (s.fd < 0) error = errno;
  }
  if (s.fd >= 0) return {};
  return "NamedMutex " + s.name + ": cannot use lock file " + path + " (" + std::strerror(error) +
         "); it serialises this process's threads only";
}

class Registry {
 public:
  static Registry& Get() {
    static NoDestructor<Registry> registry;  // threads may lock while the process exits
    return *registry.get();
  }

  std::shared_ptr<SharedState> Open(std::string_view name) {
    if (name.empty()) return std::make_shared<SharedState>(std::string(), false);
    std::lock_guard<std::mutex> lock(mutex_);
    std::weak_ptr<SharedState>& slot = states_[std::string(name)];
    std::shared_ptr<SharedState> state = slot.lock();
    if (state == nullptr || state->pid != ::getpid()) {
      state = std::make_shared<SharedState>(std::string(name), true);
      slot = state;
    }
    return state;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::weak_ptr<SharedState>> states_;
};

class PosixNamedMutex : public NamedMutex {
 public:
  explicit PosixNamedMutex(std::shared_ptr<SharedState> state) : state_(std::move(state)) {}

  LockResult Lock(milliseconds timeout) override {
    SharedState& s = *state_;
    const auto start = std::chrono::steady_clock::now();
    const std::thread::id me = std::this_thread::get_id();
    // No negative waits; an "infinite" one is cut to a length the arithmetic cannot overflow.
    timeout =
        std::clamp(timeout, milliseconds::zero(), milliseconds(std::chrono::hours(24 * 365 * 10)));
    std::string complaint;
    {
      std::unique_lock<std::mutex> lock(s.mutex);
      if (s.depth > 0 && s.owner == me) {
        ++s.depth;
        return LockResult::kAcquired;
      }
      if (!s.released.wait_for(lock, timeout, [&s] { return s.depth == 0; })) {
        return LockResult::kTimedOut;
      }
      s.owner = me;
      s.depth = 1;
      complaint = OpenLockFile(s);
    }
    if (!complaint.empty()) DebugOutput(complaint);
    // This thread now owns the fields of the state until it gives the mutex back.
    if (s.fd < 0) return LockResult::kAcquired;

    milliseconds step(1);
    for (;;) {
      if (::flock(s.fd, LOCK_EX | LOCK_NB) == 0) break;
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) {
        const int error = errno;
        {
          std::lock_guard<std::mutex> lock(s.mutex);
          ::close(s.fd);
          s.fd = -1;
        }
        DebugOutput("NamedMutex " + s.name + ": flock failed (" + std::strerror(error) +
                    "); it serialises this process's threads only");
        return LockResult::kAcquired;
      }
      const auto waited =
          std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
      if (waited >= timeout) {
        GiveBack(s);
        return LockResult::kTimedOut;
      }
      std::this_thread::sleep_for(std::min(step, timeout - waited));
      step = std::min(step * 2, milliseconds(10));
    }
    // A holder that died lost its flock with its last descriptor: that simply counts as free.
    return LockResult::kAcquired;
  }

  void Unlock() override {
    SharedState& s = *state_;
    std::unique_lock<std::mutex> lock(s.mutex);
    if (s.depth == 0 || s.owner != std::this_thread::get_id()) return;  // not ours to release
    if (--s.depth > 0) return;
    if (s.fd >= 0) {
      ::flock(s.fd, LOCK_UN);
    }
    s.owner = std::thread::id();
    lock.unlock();
    s.released.notify_one();
  }

 private:
  // Gives up the in-process ownership taken by a Lock that then timed out on the file.
  static void GiveBack(SharedState& s) {
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      s.depth = 0;
      s.owner = std::thread::id();
    }
    s.released.notify_one();
  }

  std::shared_ptr<SharedState> state_;
};

}  // namespace

std::unique_ptr<NamedMutex> OpenNamedMutex(std::string_view name) {
  return std::make_unique<PosixNamedMutex>(Registry::Get().Open(name));
}

}  // namespace snx::platform

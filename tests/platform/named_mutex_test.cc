#include "platform/named_mutex.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/fake/capturing_debug_sink.h"
#include "platform/fake/fake_clock.h"
#include "platform/manual_reset_event.h"
#include "platform/path_map.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

using std::chrono::milliseconds;

// A one-way byte channel between a parent and a forked child; every wait is bounded.
class Pipe {
 public:
  Pipe() {
    if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  ~Pipe() {
    for (int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }
  bool ok() const { return fds_[0] >= 0; }
  void Send() { (void)!::write(fds_[1], "x", 1); }
  // True when a byte came within the time; false on a time-out or a closed pipe.
  bool Receive(int timeout_ms) {
    pollfd p{fds_[0], POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) != 1) return false;
    char c;
    return ::read(fds_[0], &c, 1) == 1;
  }

 private:
  int fds_[2];
};

// Reaps a child, killing it if it has not ended within a few seconds.
int Reap(pid_t pid) {
  int status = 0;
  for (int i = 0; i < 500; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return status;
    ::usleep(10000);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return status;
}

class NamedMutexTest : public ::testing::Test {
 protected:
  test::TempDir root_;
  test::ScopedEnv env_{"SNX_ROOT", root_.path().c_str()};
};

// The child takes the mutex, tells the parent, then holds it until the parent says to go on
// (or, when `hold_forever`, until it is killed).
pid_t ForkHolder(const char* name, Pipe& locked, Pipe& go, bool hold_forever) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  auto mutex = OpenNamedMutex(name);
  const LockResult r = mutex->Lock(milliseconds(5000));
  if (r != LockResult::kAcquired && r != LockResult::kAbandoned) ::_exit(3);
  locked.Send();
  go.Receive(hold_forever ? 20000 : 10000);
  mutex->Unlock();
  ::_exit(0);
}

TEST_F(NamedMutexTest, AnotherProcessHoldingItMakesTheWaitTimeOut) {
  // Used before the fork on purpose: the child must not share this process's lock file.
  auto mine = OpenNamedMutex("MutexToProtectLogFile");
  ASSERT_EQ(mine->Lock(milliseconds(1000)), LockResult::kAcquired);
  mine->Unlock();
  Pipe locked, go;
  ASSERT_TRUE(locked.ok() && go.ok());
  const pid_t child = ForkHolder("MutexToProtectLogFile", locked, go, false);
  ASSERT_GT(child, 0);
  ASSERT_TRUE(locked.Receive(10000));

  EXPECT_EQ(mine->Lock(milliseconds(100)), LockResult::kTimedOut);
  EXPECT_TRUE(std::filesystem::exists(RuntimeDir() + "/MutexToProtectLogFile.lock"));

  go.Send();
  const int status = Reap(child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // Released in good order: plainly acquired, not abandoned.
  EXPECT_EQ(mine->Lock(milliseconds(5000)), LockResult::kAcquired);
  mine->Unlock();
}

TEST_F(NamedMutexTest, AHolderThatDiedCountsAsReleased) {
  Pipe locked, go;
  ASSERT_TRUE(locked.ok() && go.ok());
  const pid_t child = ForkHolder("Crashy", locked, go, true);
  ASSERT_GT(child, 0);
  ASSERT_TRUE(locked.Receive(10000));
  auto mine = OpenNamedMutex("Crashy");
  EXPECT_EQ(mine->Lock(milliseconds(50)), LockResult::kTimedOut);

  ::kill(child, SIGKILL);
  Reap(child);
  EXPECT_EQ(mine->Lock(milliseconds(5000)), LockResult::kAcquired);
  mine->Unlock();
  // Once released properly it is no longer abandoned.
  EXPECT_EQ(mine->Lock(milliseconds(5000)), LockResult::kAcquired);
  mine->Unlock();
}

TEST_F(NamedMutexTest, IsReentrantForTheHoldingThreadOnly) {
  auto a = OpenNamedMutex("Reentrant");
  auto b = OpenNamedMutex("Reentrant");
  ASSERT_EQ(a->Lock(milliseconds(1000)), LockResult::kAcquired);
  ASSERT_EQ(b->Lock(milliseconds(1000)), LockResult::kAcquired);  // same thread, same name

  auto other_thread_gets_it = [](milliseconds timeout) {
    LockResult r = LockResult::kFailed;
    std::thread t([&] {
      auto m = OpenNamedMutex("Reentrant");
      r = m->Lock(timeout);
      if (r == LockResult::kAcquired || r == LockResult::kAbandoned) m->Unlock();
    });
    t.join();
    return r;
  };

  a->Unlock();
  EXPECT_EQ(other_thread_gets_it(milliseconds(30)), LockResult::kTimedOut);  // depth still 1
  b->Unlock();
  EXPECT_EQ(other_thread_gets_it(milliseconds(5000)), LockResult::kAcquired);
}

TEST_F(NamedMutexTest, UnlockByAThreadThatDoesNotHoldItIsIgnored) {
  auto m = OpenNamedMutex("Owned");
  ASSERT_EQ(m->Lock(milliseconds(1000)), LockResult::kAcquired);
  std::thread([] { OpenNamedMutex("Owned")->Unlock(); }).join();
  LockResult r = LockResult::kFailed;
  std::thread([&] { r = OpenNamedMutex("Owned")->Lock(milliseconds(30)); }).join();
  EXPECT_EQ(r, LockResult::kTimedOut);
  m->Unlock();
}

// Two threads, each with its own handle, never inside together.
void ExpectThreadsSerialised(const char* name) {
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  int counter = 0;                   // deliberately unguarded but for the mutex
  auto keep = OpenNamedMutex(name);  // one shared state for the whole run
  auto work = [&] {
    auto m = OpenNamedMutex(name);
    for (int i = 0; i < 200; ++i) {
      const LockResult r = m->Lock(milliseconds(10000));
      ASSERT_TRUE(r == LockResult::kAcquired || r == LockResult::kAbandoned);
      if (++inside != 1) overlapped = true;
      ++counter;
      std::this_thread::yield();
      --inside;
      m->Unlock();
    }
  };
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_FALSE(overlapped.load());
  EXPECT_EQ(counter, 400);
}

TEST_F(NamedMutexTest, WaitsInRealTimeEvenUnderAFakeClock) {
  FakeClock clock;
  ScopedInstall<Clock> installed(clock);
  ManualResetEvent locked;  // waits through the fake clock, hence the bounded loop below
  std::thread holder([&] {
    auto m = OpenNamedMutex("Briefly");
    if (m->Lock(milliseconds(1000)) != LockResult::kAcquired) return;
    locked.Set();
    std::this_thread::sleep_for(milliseconds(30));
    m->Unlock();
  });
  for (int i = 0; i < 10000 && !locked.Wait(milliseconds(1)); ++i) {
  }
  ASSERT_TRUE(locked.IsSet());
  const LockResult r = OpenNamedMutex("Briefly")->Lock(milliseconds(10000));
  holder.join();
  EXPECT_EQ(r, LockResult::kAcquired);
}

TEST_F(NamedMutexTest, SerialisesThreadsOfOneProcess) { ExpectThreadsSerialised("Threads"); }

TEST(NamedMutexFallbackTest, WithoutALockFileItStillSerialisesThreadsAndSaysSoOnce) {
  test::TempDir dir;
  dir.Write("not-a-folder", "x");
  // The runtime folder cannot be made under a plain file.
  test::ScopedEnv env("SNX_ROOT", dir.File("not-a-folder").c_str());
  CapturingDebugSink debug;
  ScopedInstall<DebugSink> installed(debug);

  ExpectThreadsSerialised("NoFile");
  EXPECT_EQ(debug.texts().size(), 1u);
  EXPECT_TRUE(debug.Contains("NoFile"));
}

}  // namespace
}  // namespace snx::platform

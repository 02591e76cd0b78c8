#include "platform/named_mutex.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include "platform/fake/capturing_debug_sink.h"
#include "platform/fake/fake_clock.h"
#include "platform/path_map.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

using std::chrono::milliseconds;

void Send(int fd) { (void)!::write(fd, "x", 1); }
bool Receive(int fd) {  // bounded, as every wait here
  pollfd p{fd, POLLIN, 0};
  char c;
  return ::poll(&p, 1, 10000) == 1 && ::read(fd, &c, 1) == 1;
}

// Locks (and gives back) the mutex from a thread of its own.
std::future<LockResult> LockInOtherThread(const char* name, milliseconds timeout) {
  return std::async(std::launch::async, [=] {
    auto m = OpenNamedMutex(name);
    const LockResult r = m->Lock(timeout);
    if (r == LockResult::kAcquired) m->Unlock();
    return r;
  });
}

class NamedMutexTest : public ::testing::Test {
 protected:
  test::TempDir root_;
  test::ScopedEnv env_{"SNX_ROOT", root_.path().c_str()};
};

TEST_F(NamedMutexTest, AnotherProcessHoldsItUntilItReleasesItOrDies) {
  // Used before the fork on purpose: the child must not share this process's lock file.
  auto mine = OpenNamedMutex("MutexToProtectLogFile");
  ASSERT_EQ(mine->Lock(milliseconds(1000)), LockResult::kAcquired);
  mine->Unlock();
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    // Over and over: takes it, says so, holds it until told, releases it, says so. Every wait
    // is bounded, so the child ends by itself if the test does not kill it.
    auto m = OpenNamedMutex("MutexToProtectLogFile");
    for (bool go = true; go; go = Receive(fds[1])) {
      if (m->Lock(milliseconds(5000)) != LockResult::kAcquired) ::_exit(3);
      Send(fds[1]);
      Receive(fds[1]);
      m->Unlock();
      Send(fds[1]);
    }
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  ASSERT_TRUE(Receive(fds[0]));
  EXPECT_EQ(mine->Lock(milliseconds(100)), LockResult::kTimedOut);
  EXPECT_TRUE(std::filesystem::exists(RuntimeDir() + "/MutexToProtectLogFile.lock"));
  Send(fds[0]);
  ASSERT_TRUE(Receive(fds[0]));  // released by a holder that is still alive
  ASSERT_EQ(mine->Lock(milliseconds(5000)), LockResult::kAcquired);
  mine->Unlock();
  Send(fds[0]);
  ASSERT_TRUE(Receive(fds[0]));
  EXPECT_EQ(mine->Lock(milliseconds(50)), LockResult::kTimedOut);
  ::kill(child, SIGKILL);  // a holder that died counts as released
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(mine->Lock(milliseconds(5000)), LockResult::kAcquired);
  mine->Unlock();
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(NamedMutexTest, OnlyTheHoldingThreadReentersOrReleasesIt) {
  auto a = OpenNamedMutex("Reentrant");
  auto b = OpenNamedMutex("Reentrant");
  ASSERT_EQ(a->Lock(milliseconds(1000)), LockResult::kAcquired);
  ASSERT_EQ(b->Lock(milliseconds(1000)), LockResult::kAcquired);      // same thread, same name
  std::thread([] { OpenNamedMutex("Reentrant")->Unlock(); }).join();  // not its to release
  a->Unlock();
  EXPECT_EQ(LockInOtherThread("Reentrant", milliseconds(30)).get(), LockResult::kTimedOut);
  b->Unlock();
  EXPECT_EQ(LockInOtherThread("Reentrant", milliseconds(5000)).get(), LockResult::kAcquired);
}

TEST_F(NamedMutexTest, WaitsInRealTimeEvenUnderAFakeClock) {
  FakeClock clock;
  ScopedInstall<Clock> installed(clock);
  auto m = OpenNamedMutex("Briefly");
  ASSERT_EQ(m->Lock(milliseconds(1000)), LockResult::kAcquired);
  auto waiter = LockInOtherThread("Briefly", milliseconds(10000));
  std::this_thread::sleep_for(milliseconds(30));
  m->Unlock();
  EXPECT_EQ(waiter.get(), LockResult::kAcquired);
}

// Two threads, each with its own handle, never inside together.
void ExpectThreadsSerialised(const char* name) {
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  auto keep = OpenNamedMutex(name);  // one shared state for the whole run
  auto work = [&] {
    auto m = OpenNamedMutex(name);
    for (int i = 0; i < 200; ++i) {
      ASSERT_EQ(m->Lock(milliseconds(10000)), LockResult::kAcquired);
      if (++inside != 1) overlapped = true;
      std::this_thread::yield();
      --inside;
      m->Unlock();
    }
  };
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_FALSE(overlapped.load());
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

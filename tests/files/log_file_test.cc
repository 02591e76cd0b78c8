#include "files/log_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/fake/capturing_debug_sink.h"
#include "platform/fake/forwarding_file_system.h"
#include "platform/named_mutex.h"
#include "support/test_support.h"

namespace {

using snx::test::ScopedEnv;
using snx::test::TempDir;

// A clock that always reads 2026-03-07 09:05:01 local time.
class FixedClock : public snx::platform::Clock {
 public:
  WallTime WallNow() override { return WallTime{}; }
  MonoTime MonoNow() override { return MonoTime{}; }
  void SleepFor(std::chrono::milliseconds) override {}
  snx::platform::LocalTime ToLocal(WallTime) override { return {2026, 3, 7, 9, 5, 1}; }
  bool WaitFor(std::condition_variable&, std::unique_lock<std::mutex>&, std::chrono::milliseconds,
               const std::function<bool()>& ready) override {
    return ready();
  }
};

class LogFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedEnv root_{"SNX_ROOT", dir_.path().c_str()};
  FixedClock clock_;
  snx::platform::ScopedInstall<snx::platform::Clock> use_clock_{clock_};
};

TEST_F(LogFileTest, LineFormatToTheByte) {
  CLogFile log;
  log.SetDirectory(dir_.path());
  ASSERT_TRUE(log.Open("SNXSVC"));
  EXPECT_TRUE(log.LogError("CAllSets::ReInitialize() failed."));
  EXPECT_TRUE(log.LogMessage("100% %s %d done"));
  EXPECT_TRUE(log.LogEvent("CSNXSVR::Initialize() 2"));
  EXPECT_FALSE(log.LogBlankLines(1));  // blank lines are off until enabled
  log.EnableBlankLines(true);
  EXPECT_TRUE(log.LogBlankLines(2));
  EXPECT_EQ(dir_.Read("SNXSVC.log"),
            "03/07/26 09:05:01 Error: CAllSets::ReInitialize() failed.\r\r\n"
            "03/07/26 09:05:01 Message: 100% %s %d done\r\r\n"
            "03/07/26 09:05:01 (event): CSNXSVR::Initialize() 2\r\r\n"
            "\r\r\n\r\r\n");
}

TEST_F(LogFileTest, FolderWithOrWithoutASeparatorGivesTheSamePaths) {
  for (const std::string& folder : {dir_.path(), dir_.path() + "/", dir_.path() + "\\", " " + dir_.path()}) {
    CLogFile log;
    log.SetDirectory(folder);
    ASSERT_TRUE(log.Open("SNXSVC")) << folder;
    log.LogMessage("x");
    EXPECT_TRUE(dir_.Read("SNXSVC.log").size() > 0) << folder;
    const std::string_view old = log.OldPath().View();
    ASSERT_GT(old.size(), 12u);
    EXPECT_EQ(old.substr(old.size() - 10), "SNXSVC.old");
    EXPECT_TRUE(old[old.size() - 11] == '/' || old[old.size() - 11] == '\\') << old;
    EXPECT_FALSE(old[old.size() - 12] == '/' || old[old.size() - 12] == '\\') << old;
  }
}

TEST_F(LogFileTest, NothingIsWrittenBeforeOpen) {
  CLogFile log;
  log.SetDirectory(dir_.path());
  EXPECT_FALSE(log.LogError("lost"));
  EXPECT_EQ(dir_.Read("SNXSVC.log"), "");
}

TEST_F(LogFileTest, RotatesAtTheSizeLimitAndKeepsEveryLine) {
  const std::string full(CLogFile::kDefaultSizeLimit, 'a');
  dir_.Write("SNXSVC.log", full);
  dir_.Write("SNXSVC.old", "older");
  {
    CLogFile log;
    log.SetDirectory(dir_.path());
    ASSERT_TRUE(log.Open("SNXSVC"));
    log.LogMessage("fresh");
  }
  EXPECT_EQ(dir_.Read("SNXSVC.old"), full);
  EXPECT_EQ(dir_.Read("SNXSVC.log"), "03/07/26 09:05:01 Message: fresh\r\r\n");

  const std::string below(CLogFile::kDefaultSizeLimit - 1, 'b');
  dir_.Write("SNXSVC.log", below);
  {
    CLogFile log;
    log.SetDirectory(dir_.path());
    ASSERT_TRUE(log.Open("SNXSVC"));
    log.LogMessage("appended");
  }
  EXPECT_EQ(dir_.Read("SNXSVC.old"), full);
  EXPECT_EQ(dir_.Read("SNXSVC.log"), below + "03/07/26 09:05:01 Message: appended\r\r\n");
}

// A file system whose renames fail, as over a busy or read-only ".old" file.
class RenameFails : public snx::platform::ForwardingFileSystem {
 public:
  bool Rename(std::string_view, std::string_view) override { return false; }
};

TEST_F(LogFileTest, AFailedRotationKeepsTheLogAndGoesOnAppending) {
  const std::string full(CLogFile::kDefaultSizeLimit, 'a');
  dir_.Write("SNXSVC.log", full);
  dir_.Write("SNXSVC.old", "older");
  RenameFails files;
  snx::platform::ScopedInstall<snx::platform::FileSystem> use_files(files);
  CLogFile log;
  log.SetDirectory(dir_.path());
  ASSERT_TRUE(log.Open("SNXSVC"));
  log.LogMessage("still here");
  EXPECT_EQ(dir_.Read("SNXSVC.log"), full + "03/07/26 09:05:01 Message: still here\r\r\n");
  EXPECT_EQ(dir_.Read("SNXSVC.old"), "older");
}

TEST_F(LogFileTest, AnUnwritableLogReportsToTheDebuggerOutputNotToItself) {
  snx::platform::CapturingDebugSink debug;
  snx::platform::ScopedInstall<snx::platform::DebugSink> use_debug(debug);
  CLogFile log;
  log.SetDirectory(dir_.File("no/such/folder"));
  EXPECT_FALSE(log.Open("SNXSVC"));
  EXPECT_FALSE(log.LogError("dropped"));
  EXPECT_TRUE(debug.Contains("CTxtFile4::Create cannot create its file."));
}

TEST_F(LogFileTest, OwnSizeLimit) {
  dir_.Write("Uptime.log", std::string(100, 'u'));
  CLogFile log;
  log.SetSizeLimit(100);
  log.SetDirectory(dir_.path());
  ASSERT_TRUE(log.Open("Uptime"));
  EXPECT_EQ(dir_.Read("Uptime.old"), std::string(100, 'u'));
  EXPECT_EQ(dir_.Read("Uptime.log"), "");
}

TEST_F(LogFileTest, ALineIsDroppedWhileAnotherProcessHoldsTheLockAndTheWriterGoesOn) {
  CLogFile log;
  log.SetDirectory(dir_.path());
  ASSERT_TRUE(log.Open("SNXSVC"));

  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto mutex = snx::platform::OpenNamedMutex(CLogFile::kMutexName);
    const auto got = mutex->Lock(std::chrono::milliseconds(5000));
    const char c = got == snx::platform::LockResult::kAcquired ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    char r;
    (void)!read(release[0], &r, 1);  // hold until the parent has tried
    mutex->Unlock();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_FALSE(log.LogMessage("lost while the other process holds the lock"));
  (void)!write(release[1], "x", 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(log.LogMessage("written after it let go"));
  EXPECT_EQ(dir_.Read("SNXSVC.log"), "03/07/26 09:05:01 Message: written after it let go\r\r\n");
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST_F(LogFileTest, ThreadsNeverMixTheirLines) {
  CLogFile log;
  log.SetDirectory(dir_.path());
  ASSERT_TRUE(log.Open("SNXSVC"));
  constexpr int kLines = 200;
  auto writer = [&log](char tag) {
    for (int i = 0; i < kLines; ++i) log.LogEvent(std::string(50, tag));
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();
  const std::string text = dir_.Read("SNXSVC.log");
  const std::string line_a = "03/07/26 09:05:01 (event): " + std::string(50, 'a') + "\r\r\n";
  const std::string line_b = "03/07/26 09:05:01 (event): " + std::string(50, 'b') + "\r\r\n";
  ASSERT_EQ(text.size(), 2 * kLines * line_a.size());
  for (std::size_t at = 0; at < text.size(); at += line_a.size()) {
    const std::string line = text.substr(at, line_a.size());
    EXPECT_TRUE(line == line_a || line == line_b) << line;
  }
}

}  // namespace

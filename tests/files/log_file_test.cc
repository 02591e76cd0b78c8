#include "files/log_file.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <tuple>

#include "files/settings_file_writer.h"
#include "platform/fake/capturing_debug_sink.h"
#include "platform/fake/capturing_message_sink.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/forwarding_file_system.h"
#include "platform/named_mutex.h"
#include "platform/path_map.h"

namespace {

using snx::platform::FakeClock;
using snx::platform::ScopedInstall;
using snx::test::ScopedEnv;
using snx::test::TempDir;

// A line as the log writes it at the test's clock time.
std::string Line(const char* kind, std::string_view text) {
  return "03/07/26 09:05:01 " + std::string(kind) + ": " + std::string(text) + "\r\r\n";
}

class LogFileTest : public ::testing::Test {
 protected:
  // The log "SNXSVC" in the test's folder, opened.
  void Open(CLogFile& log) {
    log.SetDirectory(dir_.path());
    ASSERT_TRUE(log.Open("SNXSVC"));
  }

  TempDir dir_;
  ScopedEnv root_{"SNX_ROOT", dir_.path().c_str()};  // the named lock's file lives under it
  FakeClock clock_{FakeClock::FromUtc(2026, 3, 7, 9, 5, 1)};
  ScopedInstall<snx::platform::Clock> use_clock_{clock_};
  snx::platform::CapturingMessageSink boxes_;  // what is said where an administrator sees it
  ScopedInstall<snx::platform::MessageSink> use_boxes_{boxes_};
};

TEST_F(LogFileTest, LineFormatToTheByte) {
  CLogFile log;
  log.SetDirectory(dir_.path());
  EXPECT_FALSE(log.LogError("lost before Open"));
  Open(log);
  EXPECT_TRUE(log.LogError("CAllSets::ReInitialize() failed."));
  EXPECT_TRUE(log.LogMessage("100% %s %d done"));
  EXPECT_TRUE(log.LogEvent("CSNXSVR::Initialize() 2"));
  EXPECT_TRUE(log.LogError("bell\a and \x1b[2J"));  // no terminal controls reach the log
  EXPECT_FALSE(log.LogBlankLines(1));               // blank lines are off until enabled
  log.EnableBlankLines(true);
  EXPECT_TRUE(log.LogBlankLines(2));
  EXPECT_EQ(dir_.Read("SNXSVC.log"), Line("Error", "CAllSets::ReInitialize() failed.") +
                                         Line("Message", "100% %s %d done") +
                                         Line("(event)", "CSNXSVR::Initialize() 2") +
                                         Line("Error", "bell\\x07 and \\x1b[2J") + "\r\r\n\r\r\n");
}

TEST_F(LogFileTest, FolderWithOrWithoutASeparatorGivesTheSameFiles) {
  for (const std::string& folder :
       {dir_.path(), dir_.path() + "/", dir_.path() + "\\", " " + dir_.path()}) {
    CLogFile log;
    log.SetDirectory(folder);
    ASSERT_TRUE(log.Open("SNXSVC")) << folder;
    EXPECT_EQ(snx::platform::ToPosixPath(log.LogPath()), dir_.File("SNXSVC.log")) << folder;
    EXPECT_EQ(snx::platform::ToPosixPath(log.OldPath()), dir_.File("SNXSVC.old")) << folder;
  }
}

TEST_F(LogFileTest, RotatesWhenTheLogHasReachedItsLimitAndNeverLosesALine) {
  const std::int64_t limit = CLogFile::kDefaultSizeLimit;
  // Size of the log, its own limit (0: the default), whether the rename fails, and whether the
  // log is moved to its ".old" file. A log that cannot be moved goes on growing.
  for (const auto& [size, own_limit, rename_fails, rotates] :
       {std::tuple{limit, 0, false, true}, {limit - 1, 0, false, false}, {100, 100, true, false}}) {
    SCOPED_TRACE(testing::Message() << size << " bytes, limit " << own_limit);
    const std::string before(size, 'a');
    dir_.Write("SNXSVC.log", before);
    dir_.Write("SNXSVC.old", "older");
    snx::test::RenameFails failing;
    std::optional<ScopedInstall<snx::platform::FileSystem>> use_failing;
    if (rename_fails) use_failing.emplace(failing);
    CLogFile log;
    if (own_limit > 0) log.SetSizeLimit(own_limit);
    Open(log);
    log.LogMessage("x");
    const std::string line = Line("Message", "x");
    EXPECT_EQ(dir_.Read("SNXSVC.old"), rotates ? before : "older");
    EXPECT_EQ(dir_.Read("SNXSVC.log"), rotates ? line : before + line);
  }
}

TEST_F(LogFileTest, ARunningLogMovesToItsOldFileAtItsLimit) {
  // Twelve lines of one length and a limit of five: the log moves away before the 6th and the
  // 11th line, and between them ".old" and ".log" hold every line since the first move.
  std::vector<std::string> lines;
  for (int i = 0; i < 12; ++i) lines.push_back(Line("Message", "line " + std::to_string(10 + i)));
  CLogFile log;
  log.SetSizeLimit(static_cast<std::int64_t>(lines[0].size()) * 5);
  Open(log);
  for (int i = 0; i < 12; ++i) ASSERT_TRUE(log.LogMessage("line " + std::to_string(10 + i)));
  auto joined = [&](int from, int to) {
    std::string out;
    for (int i = from; i < to; ++i) out += lines[i];
    return out;
  };
  EXPECT_EQ(dir_.Read("SNXSVC.old"), joined(5, 10));
  EXPECT_EQ(dir_.Read("SNXSVC.log"), joined(10, 12));
}

TEST_F(LogFileTest, TheNextLineGoesWhereThePathNowPoints) {
  // logrotate moves the log away (or copies and empties it), or someone removes it, while the
  // service holds it open: the next line lands in the file the path names, and only there.
  const std::string first = Line("Message", "first");
  const std::string next = Line("Message", "next");
  for (const std::string_view how : {"moved", "removed", "emptied"}) {
    SCOPED_TRACE(how);
    std::filesystem::remove(dir_.File("SNXSVC.log"));
    CLogFile log;
    Open(log);
    ASSERT_TRUE(log.LogMessage("first"));
    if (how == "moved") {
      std::filesystem::rename(dir_.File("SNXSVC.log"), dir_.File("SNXSVC.log.1"));
    } else if (how == "removed") {
      std::filesystem::remove(dir_.File("SNXSVC.log"));
    } else {
      std::filesystem::resize_file(dir_.File("SNXSVC.log"), 0);
    }
    ASSERT_TRUE(log.LogMessage("next"));
    EXPECT_EQ(dir_.Read("SNXSVC.log"), next);
    // The moved file keeps what was written before the move.
    EXPECT_EQ(how == "moved" ? dir_.Read("SNXSVC.log.1") : first, first);
  }
}

TEST_F(LogFileTest, TwoWritersInterleaveWholeLinesAndTheStampFollowsTheClock) {
  CLogFile service, other;  // the other: snxctl, writing the same log
  Open(service);
  Open(other);
  ASSERT_TRUE(service.LogMessage("a"));
  ASSERT_TRUE(other.LogMessage("b"));
  clock_.Advance(std::chrono::milliseconds(999));  // 09:05:01.999: the same second
  ASSERT_TRUE(service.LogMessage("c"));
  clock_.Advance(std::chrono::milliseconds(1));
  ASSERT_TRUE(service.LogMessage("d"));
  ASSERT_TRUE(other.LogMessage("e"));
  const auto at_02 = [](std::string line) { return line.replace(15, 2, "02"); };
  EXPECT_EQ(dir_.Read("SNXSVC.log"), Line("Message", "a") + Line("Message", "b") +
                                         Line("Message", "c") + at_02(Line("Message", "d")) +
                                         at_02(Line("Message", "e")));
}

// The disk is full while `full` is set: what is written to a file, open already or not, seems
// to be taken, but the flush says it never reached the disk, as a full disk does to a stream.
class FullDisk : public snx::platform::ForwardingFileSystem {
 public:
  class MayLoseWrites : public snx::platform::File {
   public:
    MayLoseWrites(std::unique_ptr<snx::platform::File> file, const bool& full)
        : file_(std::move(file)), full_(full) {}
    snx::platform::ReadResult ReadChar(char& c) override { return file_->ReadChar(c); }
    std::size_t Read(char* buffer, std::size_t n) override { return file_->Read(buffer, n); }
    bool Write(std::string_view bytes) override { return full_ || file_->Write(bytes); }
    bool Flush() override { return full_ ? Fail() : file_->Flush(); }
    bool Sync() override { return full_ ? Fail() : file_->Sync(); }
    bool Failed() override { return full_ || file_->Failed(); }
    bool Close() override { return file_->Close() && !full_; }
    std::optional<snx::platform::FileIdentity> Identity() override { return file_->Identity(); }

   private:
    static bool Fail() {
      snx::platform::SetLastFileError("cannot write the log: No space left on device");
      return false;
    }
    std::unique_ptr<snx::platform::File> file_;
    const bool& full_;
  };

  std::unique_ptr<snx::platform::File> Open(std::string_view path, std::string_view mode,
                                            unsigned create_mode) override {
    auto file = ForwardingFileSystem::Open(path, mode, create_mode);
    if (!file) return file;
    return std::make_unique<MayLoseWrites>(std::move(file), full);
  }
  bool full = false;
};

TEST_F(LogFileTest, AFullDiskIsSaidOnceToTheSystemLogAndLoggingResumesByItself) {
  FullDisk disk;
  ScopedInstall<snx::platform::FileSystem> use_disk(disk);
  CLogFile log;
  Open(log);
  ASSERT_TRUE(log.LogMessage("before"));
  disk.full = true;
  EXPECT_FALSE(log.LogError("lost 1"));
  EXPECT_FALSE(log.LogEvent("lost 2"));
  log.EnableBlankLines(true);
  EXPECT_FALSE(log.LogBlankLines(1));
  EXPECT_TRUE(log.WriteFailing());
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.boxes()[0].text,
            "SNXSVC.log cannot be written (cannot write the log: No space left on device); its "
            "lines are lost until it can be written again.");

  disk.full = false;
  EXPECT_TRUE(log.LogMessage("after"));
  EXPECT_FALSE(log.WriteFailing());
  const std::string resumed = "SNXSVC.log is written again; 3 line(s) could not be written.";
  ASSERT_EQ(boxes_.count(), 2u);
  EXPECT_EQ(boxes_.boxes()[1].text, resumed);
  EXPECT_EQ(dir_.Read("SNXSVC.log"),
            Line("Message", "before") + Line("Message", "after") + Line("Message", resumed));
}

TEST_F(LogFileTest, AnUnwritableLogReportsToTheDebuggerOutputNotToItself) {
  snx::platform::CapturingDebugSink debug;
  ScopedInstall<snx::platform::DebugSink> use_debug(debug);
  CLogFile log;
  log.SetDirectory(dir_.File("no/such/folder"));
  EXPECT_FALSE(log.Open("SNXSVC"));
  EXPECT_FALSE(log.LogError("dropped"));
  EXPECT_TRUE(debug.Contains("CTxtFile4::Create cannot create its file."));
  // The open's failure is said once where an administrator sees it, naming the file.
  EXPECT_TRUE(boxes_.HasText("CLogFile::Open() cannot open " + dir_.File("no/such/folder") +
                             "/SNXSVC.log: No such file or directory"));
}

TEST_F(LogFileTest, ASymlinkInThePlaceOfTheLogIsNeverWrittenThrough) {
  dir_.Write("target", "precious\n");
  for (const char* target : {"target", "dangling"}) {
    std::filesystem::remove(dir_.File("SNXSVC.log"));
    std::filesystem::create_symlink(dir_.File(target), dir_.File("SNXSVC.log"));
    CLogFile log;
    log.SetDirectory(dir_.path());
    EXPECT_FALSE(log.Open("SNXSVC")) << target;
    EXPECT_FALSE(log.LogError("must not land anywhere")) << target;
    EXPECT_TRUE(boxes_.HasText("CLogFile::Open() cannot open " + dir_.File("SNXSVC.log") +
                               ": it is a symbolic link, and files are never written through one"))
        << target;
  }
  EXPECT_EQ(dir_.Read("target"), "precious\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("dangling")));
}

// A holder that died releases the lock by itself (the named mutex's own test); here only that a
// line is dropped, not waited for without bound, while another holds it.
TEST_F(LogFileTest, ALineIsDroppedWhileAnotherHoldsTheLock) {
  CLogFile log;
  Open(log);
  std::promise<void> held, release;
  std::thread holder([&] {
    auto mutex = snx::platform::OpenNamedMutex(CLogFile::kMutexName);
    EXPECT_EQ(mutex->Lock(std::chrono::milliseconds(5000)), snx::platform::LockResult::kAcquired);
    held.set_value();
    release.get_future().wait();
    mutex->Unlock();
  });
  held.get_future().wait();
  EXPECT_FALSE(log.LogMessage("lost while another holds the lock"));
  release.set_value();
  holder.join();
  EXPECT_TRUE(log.LogMessage("written after"));
  EXPECT_EQ(dir_.Read("SNXSVC.log"), Line("Message", "written after"));
}

}  // namespace

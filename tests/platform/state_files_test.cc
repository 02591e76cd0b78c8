#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <memory>

#include "platform/atomic_file.h"
#include "platform/fake/capturing_debug_sink.h"
#include "platform/fake/fake_clock.h"
#include "platform/file_system.h"
#include "platform/key_store.h"
#include "platform/named_mutex.h"
#include "platform/path_map.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

using test::ModeOf;

// A temporary state root (SNX_ROOT) for the test.
class RootedTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  test::ScopedEnv root_{"SNX_ROOT", dir_.path().c_str()};
};

class FileSystemTest : public RootedTest {
 protected:
  FileSystem& fs_ = DefaultFacility<FileSystem>();
};

TEST_F(FileSystemTest, CopyAndRenameReplaceTheTargetWholeAndFoldersAreNoFiles) {
  std::string big(200 * 1024 + 7, '\0');  // more than one copy buffer
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31);
  dir_.Write("source", big);
  dir_.Write("target", "old contents");
  ASSERT_TRUE(fs_.SetPermissions(dir_.File("source"), 0640));
  ASSERT_TRUE(fs_.Copy(dir_.File("source"), dir_.File("target")));
  EXPECT_EQ(dir_.Read("target"), big);
  EXPECT_EQ(ModeOf(dir_.File("target")), 0640u);
  // Nothing is left behind beside the target.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2);
  EXPECT_FALSE(fs_.Copy(dir_.File("missing"), dir_.File("target")));
  EXPECT_FALSE(fs_.Copy(dir_.path(), dir_.File("target")));  // a folder is not copied
  EXPECT_EQ(dir_.Read("target"), big);
  EXPECT_EQ(fs_.Size(dir_.path()), std::nullopt) << "a folder has no size";
  EXPECT_FALSE(fs_.Delete(dir_.path())) << "not empty";

  dir_.Write("from", "1");
  ASSERT_TRUE(fs_.Rename(dir_.File("from"), dir_.File("target")));
  EXPECT_FALSE(fs_.Exists(dir_.File("from")));
  EXPECT_EQ(dir_.Read("target"), "1");
}

TEST_F(FileSystemTest, OpenHonoursCreateModeAndModesAndTellsEndFromError) {
  auto w = fs_.Open(dir_.File("secret"), "w+b", 0600);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->Write("abc"));
  w.reset();
  EXPECT_EQ(ModeOf(dir_.File("secret")), 0600u);
  EXPECT_EQ(dir_.Read("secret"), "abc");  // closing the file flushes it
  for (const char* mode : {"x", "rw"}) EXPECT_EQ(fs_.Open(dir_.File("secret"), mode), nullptr);
  EXPECT_EQ(fs_.Open(dir_.File("missing"), "rb"), nullptr);
  EXPECT_EQ(fs_.Open(dir_.path(), "rb"), nullptr);  // a folder is not a file
  // Reading and then writing on one stream works: in place with "r+b", at the end with "a+b".
  std::unique_ptr<File> f;
  for (const char* mode : {"r+b", "a+b"}) {
    f = fs_.Open(dir_.File("secret"), mode);
    ASSERT_NE(f, nullptr);
    char c = 0;
    ASSERT_EQ(f->ReadChar(c), ReadResult::kOk);
    EXPECT_EQ(c, 'a');
    EXPECT_TRUE(f->Write("Z") && f->Flush() && !f->Failed() && f->Close());
  }
  EXPECT_EQ(dir_.Read("secret"), "aZcZ");
  // The end of a file is told apart from an error.
  f = fs_.Open(dir_.File("secret"), "rb");
  ASSERT_NE(f, nullptr);
  char buffer[8];
  EXPECT_EQ(f->Read(buffer, sizeof(buffer)), 4u);
  EXPECT_EQ(f->Read(buffer, sizeof(buffer)), 0u);
  EXPECT_FALSE(f->Failed());
  EXPECT_EQ(f->ReadChar(buffer[0]), ReadResult::kEnd);
  EXPECT_FALSE(f->Write("z"));  // opened for reading only
  f->Close();
  EXPECT_EQ(f->ReadChar(buffer[0]), ReadResult::kError);
  // A full disk shows when the bytes are flushed, and says so.
  if (!std::filesystem::exists("/dev/full")) return;
  f = fs_.Open("/dev/full", "a+b");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->Write("lost"));
  EXPECT_FALSE(f->Close());
  EXPECT_EQ(LastFileError(), "cannot write /dev/full: No space left on device");
}

TEST_F(FileSystemTest, WritesNeverGoThroughASymlinkAndReplacementIsWhole) {
  dir_.Write("target", "kept");
  std::filesystem::create_symlink(dir_.File("target"), dir_.File("link"));
  std::filesystem::create_symlink(dir_.File("nothing"), dir_.File("dangling"));
  for (const char* mode : {"r+b", "a+b", "w+b", "ab", "wb", "wbx"}) {
    for (const char* name : {"link", "dangling"}) {
      EXPECT_EQ(fs_.Open(dir_.File(name), mode), nullptr) << mode << " " << name;
      if (std::string_view(mode) == "wbx") continue;  // refused as a name that exists
      EXPECT_EQ(LastFileError(), "cannot open " + dir_.File(name) +
                                     ": it is a symbolic link, and files are never written "
                                     "through one")
          << mode;
    }
  }
  EXPECT_NE(fs_.Open(dir_.File("link"), "rb"), nullptr);     // reading follows
  EXPECT_EQ(fs_.Open(dir_.File("target"), "wbx"), nullptr);  // exclusive: exists already
  EXPECT_EQ(dir_.Read("target"), "kept");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("nothing")));

  // A replacement puts a new file in the place of the link; the link's target stays.
  ASSERT_TRUE(ReplaceFileWith(fs_, dir_.File("link"), "new", 0640));
  EXPECT_FALSE(std::filesystem::is_symlink(dir_.File("link")));
  EXPECT_EQ(dir_.Read("link"), "new");
  EXPECT_EQ(ModeOf(dir_.File("link")), 0640u);
  EXPECT_EQ(dir_.Read("target"), "kept");
  EXPECT_FALSE(ReplaceFileWith(fs_, dir_.File("no/folder/file"), "x", 0600));
  EXPECT_NE(LastFileError().find(dir_.File("no/folder/file")), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 3)
      << "a temporary file was left behind";
}

TEST_F(FileSystemTest, UpdateLockSerialisesThreadsAndTimesOut) {
  const std::string file = dir_.File("settings");
  auto held = fs_.LockForUpdate(file, std::chrono::milliseconds(100));
  ASSERT_NE(held, nullptr);
  EXPECT_TRUE(std::filesystem::exists(file + ".lock"));
  // Another thread waits for it and gives up at its bound.
  std::unique_ptr<FileLock> other;
  std::string why;
  std::thread([&] {
    other = fs_.LockForUpdate(file, std::chrono::milliseconds(20));
    why = LastFileError();
  }).join();
  EXPECT_EQ(other, nullptr);
  EXPECT_NE(why.find("cannot lock " + file), std::string::npos) << why;
  held.reset();
  EXPECT_NE(fs_.LockForUpdate(file, std::chrono::milliseconds(20)), nullptr);
  // The lock file itself is never opened through a symlink.
  std::filesystem::create_symlink(dir_.File("elsewhere"), dir_.File("other.lock"));
  EXPECT_EQ(fs_.LockForUpdate(dir_.File("other"), std::chrono::milliseconds(20)), nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("elsewhere")));
}

TEST_F(FileSystemTest, LoadedModulesCompareWithoutCase) {
  const auto libc = fs_.LoadedModulePath("LIBC.SO.6");
  ASSERT_TRUE(libc.has_value());
  EXPECT_TRUE(libc->starts_with("/") && libc->ends_with("/libc.so.6")) << *libc;
  EXPECT_EQ(fs_.LoadedModulePath("QorPerf.dll"), std::nullopt);
}

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

using NamedMutexTest = RootedTest;

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

TEST_F(NamedMutexTest, OnlyTheHoldingThreadReentersOrReleasesItAndWaitsInRealTime) {
  FakeClock clock;  // waits are in real time even under a fake clock
  ScopedInstall<Clock> installed(clock);
  auto a = OpenNamedMutex("Reentrant");
  auto b = OpenNamedMutex("Reentrant");
  ASSERT_EQ(a->Lock(milliseconds(1000)), LockResult::kAcquired);
  ASSERT_EQ(b->Lock(milliseconds(1000)), LockResult::kAcquired);      // same thread, same name
  std::thread([] { OpenNamedMutex("Reentrant")->Unlock(); }).join();  // not its to release
  a->Unlock();
  EXPECT_EQ(LockInOtherThread("Reentrant", milliseconds(30)).get(), LockResult::kTimedOut);
  auto waiter = LockInOtherThread("Reentrant", milliseconds(10000));
  std::this_thread::sleep_for(milliseconds(30));
  b->Unlock();
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

TEST_F(NamedMutexTest, SerialisesThreadsWithOrWithoutALockFileAndSaysOnceWhenWithout) {
  ExpectThreadsSerialised("Threads");
  dir_.Write("not-a-folder", "x");
  // The runtime folder cannot be made under a plain file.
  test::ScopedEnv env("SNX_ROOT", dir_.File("not-a-folder").c_str());
  CapturingDebugSink debug;
  ScopedInstall<DebugSink> installed(debug);
  ExpectThreadsSerialised("NoFile");
  EXPECT_EQ(debug.texts().size(), 1u);
  EXPECT_TRUE(debug.Contains("NoFile"));
}

// ---- the text form ----

TEST(KeyTreeTest, TextFormKeepsEveryByteAndTheCaseOfNames) {
  KeyTree tree;
  bool created = false;
  ASSERT_TRUE(tree.Create("SOFTWARE\\Qorvex\\Sentinex", created));
  auto* key = tree.Find("software\\QORVEX\\sentinex");
  ASSERT_NE(key, nullptr);
  const std::string awkward = "a \"quoted\" \\path\\ with\ttab\r\nand \x7f\xe9 bytes";
  key->values.emplace_back("Odd \"name\"", RegValue::String(awkward));
  key->values.emplace_back("", RegValue::String("default"));
  key->values.emplace_back("Count", RegValue::Dword(0xDEADBEEF));

  int bad = 0, first_bad = 0;
  const std::string text = tree.Serialize(RegRoot::kLocalMachine);
  const KeyTree back = KeyTree::Parse(text, bad, first_bad);
  EXPECT_EQ(bad, 0) << text;
  const auto* read = back.Find("SOFTWARE\\QORVEX\\SENTINEX");
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->path, "SOFTWARE\\Qorvex\\Sentinex");
  EXPECT_EQ(read->values, key->values);
  // The file is plain ASCII: every odd byte is escaped.
  for (char c : text) EXPECT_TRUE(c == '\n' || (c >= 32 && c <= 126)) << static_cast<int>(c);
}

TEST(KeyTreeTest, ReadsHandEditedTextAndCountsWhatItCannotRead) {
  const std::string text =
      "; a comment\n"
      "[SOFTWARE\\Qorvex]\r\n"
      "  \"AutoRun\" = \"1\"  \n"
      "\"Mode\"=DWORD:2\n"
      "\"Bad\"=\"unterminated\n"
      "\"Nul\"=\"a\\x00b\"\n"
      "[A\\\\B]\n"
      "\"orphan\"=\"after a bad key\"\n";
  int bad = 0, first_bad = 0;
  const KeyTree tree = KeyTree::Parse(text, bad, first_bad);
  EXPECT_EQ(std::tuple(bad, first_bad), std::tuple(4, 5));
  const auto* key = tree.Find("software\\qorvex");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->values, (decltype(key->values){{"AutoRun", RegValue::String("1")},
                                                {"Mode", RegValue::Dword(2)}}));
}

TEST(KeyTreeTest, SubkeysFollowTheirParentWhateverTheirNames) {
  KeyTree tree;
  bool created = false;
  for (const char* p : {"A B", "A\\Z", "A", "A\\B\\C", "B"}) ASSERT_TRUE(tree.Create(p, created));
  EXPECT_EQ(tree.SubKeyNames("a"), (std::vector<std::string>{"B", "Z"}));
  EXPECT_FALSE(tree.HasSubkeys("A B"));
  tree.Remove("A", true);
  EXPECT_EQ(tree.Find("A\\B\\C"), nullptr);
  EXPECT_NE(tree.Find("A B"), nullptr) << "a key whose name only begins like it stays";
  for (const char* bad : {"\\A", "A\\", "A\\\\B", "A\x01"}) {
    EXPECT_FALSE(KeyTree::IsValidPath(bad)) << bad;
  }
}

// ---- the store on disk ----

class KeyStoreFileTest : public RootedTest {
 protected:
  void TearDown() override { EXPECT_EQ(KeyStore::OpenHandleCount(), handles_); }

  HKEY Create(const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(Keys().CreateKey(HKEY_LOCAL_MACHINE, path, key), RegResult::kOk);
    return key;
  }

  const std::string store_ = "var/lib/snxsvc/HKEY_LOCAL_MACHINE.reg";
  int handles_ = KeyStore::OpenHandleCount();
};

TEST_F(KeyStoreFileTest, ValuesSurviveInAReadableOwnerOnlyFile) {
  HKEY key = Create("SOFTWARE\\Qorvex\\Sentinex");
  for (const auto& [name, value] : {std::pair{"AutoRun", RegValue::String("1")},
                                    {"Count", RegValue::Dword(7)},
                                    {"AUTORUN", RegValue::String("0")}}) {
    ASSERT_EQ(Keys().SetValue(key, name, value), RegResult::kOk) << name;
  }
  Keys().CloseKey(key);
  EXPECT_NE(dir_.Read(store_).find(
                "[SOFTWARE\\Qorvex\\Sentinex]\n\"AutoRun\"=\"0\"\n\"Count\"=dword:00000007"),
            std::string::npos)
      << dir_.Read(store_);
  EXPECT_EQ(ModeOf(dir_.File(store_)), 0600u);

  ASSERT_EQ(Keys().OpenKey(HKEY_LOCAL_MACHINE, "software\\qorvex\\SENTINEX", key), RegResult::kOk);
  RegValue value;
  ASSERT_EQ(Keys().QueryValue(key, "autorun", value), RegResult::kOk);
  EXPECT_EQ(value.text, "0");
  EXPECT_EQ(Keys().QueryValue(key, "none", value), RegResult::kNotFound);
  Keys().CloseKey(key);
  // The other root is a store of its own.
  EXPECT_EQ(Keys().OpenKey(HKEY_CLASSES_ROOT, "SOFTWARE", key), RegResult::kNotFound);
}

TEST_F(KeyStoreFileTest, DeletingKeysAndClosedHandles) {
  HKEY key = Create("CLSID\\{X}\\InprocServer32");
  Keys().CloseKey(key);
  RegValue value;
  EXPECT_EQ(Keys().QueryValue(key, "", value), RegResult::kInvalid)
      << "a closed handle is refused, not used";
  EXPECT_EQ(Keys().CloseKey(key), RegResult::kInvalid);
  HKEY parent = Create("CLSID");
  EXPECT_EQ(Keys().DeleteKey(parent, "{X}"), RegResult::kHasSubkeys);
  EXPECT_EQ(Keys().DeleteTree(parent, "{x}"), RegResult::kOk);
  EXPECT_EQ(Keys().DeleteTree(parent, "{x}"), RegResult::kNotFound);
  EXPECT_EQ(Keys().DeleteKey(HKEY_LOCAL_MACHINE, ""), RegResult::kInvalid) << "never the root";
  Keys().CloseKey(parent);
}

TEST_F(KeyStoreFileTest, AnUnreadableStoreIsNeverRewritten) {
  Keys().CloseKey(Create("A"));
  const std::string text = dir_.Read(store_) + "this line is not a key or a value\n";
  dir_.Write(store_, text);
  HKEY b = nullptr;
  EXPECT_EQ(Keys().CreateKey(HKEY_LOCAL_MACHINE, "B", b), RegResult::kCorrupt);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(dir_.Read(store_), text);
  // What can be read still reads.
  ASSERT_EQ(Keys().OpenKey(HKEY_LOCAL_MACHINE, "A", b), RegResult::kOk);
  Keys().CloseKey(b);
}

TEST_F(KeyStoreFileTest, TwoProcessesWritingAtOnceLoseNothing) {
  HKEY key = Create("Shared");
  std::vector<pid_t> children;
  std::vector<std::string> expected;
  for (const std::string prefix : {"first", "second"}) {
    for (int i = 0; i < 40; ++i) expected.push_back(prefix + std::to_string(i));
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (auto it = expected.end() - 40; it != expected.end(); ++it) {
        if (Keys().SetValue(key, *it, RegValue::String(*it)) != RegResult::kOk) ::_exit(2);
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<std::string> names;
  ASSERT_EQ(Keys().ValueNames(key, names), RegResult::kOk);
  Keys().CloseKey(key);
  std::sort(names.begin(), names.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  EXPECT_FALSE(::access(dir_.File(store_ + ".new").c_str(), F_OK) == 0) << "a temporary is left";
}

}  // namespace
}  // namespace snx::platform

#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "platform/atomic_file.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class FileSystemTest : public ::testing::Test {
 protected:
  FileSystem& fs_ = DefaultFacility<FileSystem>();
  test::TempDir dir_;
  test::ScopedEnv root_{"SNX_ROOT", dir_.path().c_str()};
};

TEST_F(FileSystemTest, WindowsPathTextsLandUnderTheStateRoot) {
  ASSERT_TRUE(fs_.MakeFolders("D:\\Heartbeat\\"));
  auto f = fs_.Open("d:\\Heartbeat\\\\beat.txt", "w+b");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->Write("up") && f->Close());
  EXPECT_EQ(dir_.Read("var/lib/snxsvc/drives/D/Heartbeat/beat.txt"), "up");
  EXPECT_EQ(fs_.Size(dir_.File("var")), std::nullopt) << "a folder has no size";
  EXPECT_FALSE(fs_.Delete(dir_.File("var"))) << "not empty";
}

TEST_F(FileSystemTest, CopyAndRenameReplaceTheTargetWhole) {
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

}  // namespace
}  // namespace snx::platform

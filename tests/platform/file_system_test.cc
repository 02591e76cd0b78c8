#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/fake/forwarding_file_system.h"
#include "platform/path_map.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

class FileSystemTest : public ::testing::Test {
 protected:
  FileSystem& fs_ = DefaultFacility<FileSystem>();
  test::TempDir dir_;
  test::ScopedEnv root_{"SNX_ROOT", dir_.path().c_str()};
};

TEST_F(FileSystemTest, ExistsDeleteAndSize) {
  dir_.Write("a.txt", "hello");
  ASSERT_TRUE(fs_.MakeFolders(dir_.File("sub/deeper")));
  EXPECT_TRUE(fs_.Exists(dir_.File("a.txt")));
  EXPECT_FALSE(fs_.FolderExists(dir_.File("a.txt")));
  EXPECT_TRUE(fs_.Exists(dir_.File("sub")));
  EXPECT_TRUE(fs_.FolderExists(dir_.File("sub/deeper")));
  EXPECT_FALSE(fs_.Exists(dir_.File("missing")));

  EXPECT_EQ(fs_.Size(dir_.File("a.txt")), 5);
  EXPECT_EQ(fs_.Size(dir_.File("missing")), std::nullopt);
  EXPECT_EQ(fs_.Size(dir_.File("sub")), std::nullopt);

  EXPECT_TRUE(fs_.Delete(dir_.File("a.txt")));
  EXPECT_FALSE(fs_.Exists(dir_.File("a.txt")));
  EXPECT_FALSE(fs_.Delete(dir_.File("a.txt")));
  EXPECT_FALSE(fs_.Delete(dir_.File("sub")));  // not empty
  EXPECT_TRUE(fs_.Delete(dir_.File("sub/deeper")));
}

TEST_F(FileSystemTest, WindowsPathTextsLandUnderTheStateRoot) {
  ASSERT_TRUE(fs_.MakeFolders("D:\\Heartbeat\\"));
  EXPECT_TRUE(fs_.FolderExists(dir_.File("var/lib/snxsvc/drives/D/Heartbeat")));
  auto f = fs_.Open("d:\\Heartbeat\\\\beat.txt", "w+b");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->Write("up"));
  EXPECT_TRUE(f->Close());
  EXPECT_EQ(dir_.Read("var/lib/snxsvc/drives/D/Heartbeat/beat.txt"), "up");
  EXPECT_EQ(fs_.Size("D:/Heartbeat/beat.txt"), 2);
}

TEST_F(FileSystemTest, CopyReplacesTheTargetAndKeepsPermissions) {
  dir_.Write("source", "new contents");
  dir_.Write("target", "old contents that were longer");
  ASSERT_TRUE(fs_.SetPermissions(dir_.File("source"), 0640));
  ASSERT_TRUE(fs_.Copy(dir_.File("source"), dir_.File("target")));
  EXPECT_EQ(dir_.Read("target"), "new contents");
  EXPECT_EQ(ModeOf(dir_.File("target")), 0640u);
  EXPECT_EQ(dir_.Read("source"), "new contents");

  // Nothing is left behind beside the target.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 2);

  EXPECT_FALSE(fs_.Copy(dir_.File("missing"), dir_.File("target")));
  EXPECT_EQ(dir_.Read("target"), "new contents");
  EXPECT_FALSE(fs_.Copy(dir_.path(), dir_.File("target")));  // a folder is not copied
}

TEST_F(FileSystemTest, CopiesMoreThanOneBuffer) {
  std::string big(200 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31);
  dir_.Write("big", big);
  ASSERT_TRUE(fs_.Copy(dir_.File("big"), dir_.File("big2")));
  EXPECT_EQ(dir_.Read("big2"), big);
}

TEST_F(FileSystemTest, RenameReplacesTheTarget) {
  dir_.Write("from", "1");
  dir_.Write("to", "2");
  ASSERT_TRUE(fs_.Rename(dir_.File("from"), dir_.File("to")));
  EXPECT_FALSE(fs_.Exists(dir_.File("from")));
  EXPECT_EQ(dir_.Read("to"), "1");
  EXPECT_FALSE(fs_.Rename(dir_.File("from"), dir_.File("to")));
}

TEST_F(FileSystemTest, OpenHonoursCreateModeAndModes) {
  {
    auto f = fs_.Open(dir_.File("secret"), "w+b", 0600);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->Write("abc"));
  }
  EXPECT_EQ(ModeOf(dir_.File("secret")), 0600u);
  EXPECT_EQ(dir_.Read("secret"), "abc");  // closing the file flushes it

  EXPECT_EQ(fs_.Open(dir_.File("missing"), "rb"), nullptr);
  EXPECT_EQ(fs_.Open(dir_.File("secret"), "x"), nullptr);
  EXPECT_EQ(fs_.Open(dir_.File("secret"), "rw"), nullptr);
  EXPECT_EQ(fs_.Open(dir_.path(), "rb"), nullptr);  // a folder is not a file

  // Append mode writes at the end whatever was read before.
  auto f = fs_.Open(dir_.File("secret"), "a+b");
  ASSERT_NE(f, nullptr);
  char c = 0;
  ASSERT_EQ(f->ReadChar(c), ReadResult::kOk);
  EXPECT_EQ(c, 'a');
  EXPECT_TRUE(f->Write("de"));
  EXPECT_TRUE(f->Flush());
  EXPECT_FALSE(f->Failed());
  EXPECT_TRUE(f->Close());
  EXPECT_FALSE(f->Close());
  EXPECT_EQ(dir_.Read("secret"), "abcde");
}

TEST_F(FileSystemTest, ReadsToTheEndAndTellsEndFromError) {
  dir_.Write("r", "xy");
  auto f = fs_.Open(dir_.File("r"), "rb");
  ASSERT_NE(f, nullptr);
  char buffer[8];
  EXPECT_EQ(f->Read(buffer, sizeof(buffer)), 2u);
  EXPECT_EQ(f->Read(buffer, sizeof(buffer)), 0u);
  EXPECT_FALSE(f->Failed());
  char c;
  EXPECT_EQ(f->ReadChar(c), ReadResult::kEnd);
  EXPECT_FALSE(f->Write("z"));  // opened for reading only
  f->Close();
  EXPECT_EQ(f->ReadChar(c), ReadResult::kError);
}

TEST_F(FileSystemTest, ProcessPaths) {
  const std::string exe = fs_.ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.front(), '/');
  EXPECT_TRUE(fs_.Exists(exe));

  // The C library is loaded in every process; module names compare without case.
  const auto libc = fs_.LoadedModulePath("LIBC.SO.6");
  ASSERT_TRUE(libc.has_value());
  EXPECT_EQ(libc->front(), '/');
  EXPECT_TRUE(libc->ends_with("/libc.so.6"));
  EXPECT_EQ(fs_.LoadedModulePath("QorPerf.dll"), std::nullopt);
  EXPECT_EQ(fs_.LoadedModulePath(""), std::nullopt);

  const std::string before = fs_.CurrentFolder();
  ASSERT_FALSE(before.empty());
  ASSERT_TRUE(fs_.ChangeFolder(dir_.path()));
  EXPECT_TRUE(std::filesystem::equivalent(fs_.CurrentFolder(), dir_.path()));
  EXPECT_FALSE(fs_.ChangeFolder(dir_.File("missing")));
  ASSERT_TRUE(fs_.ChangeFolder(before));
  EXPECT_EQ(fs_.CurrentFolder(), before);
}

// A test file system that fails renames and counts them; the rest goes to the real one.
class FailingRenames : public ForwardingFileSystem {
 public:
  bool Rename(std::string_view, std::string_view) override {
    ++renames;
    return false;
  }
  int renames = 0;
};

TEST_F(FileSystemTest, ForwardingFileSystemOverridesOnlyWhatItNeeds) {
  FailingRenames failing;
  ScopedInstall<FileSystem> installed(failing);
  dir_.Write("a", "1");
  EXPECT_FALSE(Files().Rename(dir_.File("a"), dir_.File("b")));
  EXPECT_EQ(failing.renames, 1);
  EXPECT_TRUE(Files().Exists(dir_.File("a")));
  EXPECT_TRUE(Files().Copy(dir_.File("a"), dir_.File("b")));
  EXPECT_EQ(Files().Size(dir_.File("b")), 1);
}

}  // namespace
}  // namespace snx::platform

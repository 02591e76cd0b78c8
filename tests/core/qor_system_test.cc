#include <gtest/gtest.h>

#include <tuple>

#include "core/qor_file_ops.h"
#include "core/registry.h"
#include "platform/fake/fake_key_store.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

using snx::test::CapturingLog;
using snx::test::TempDir;

TEST(QorFileOpsPaths, DirectoryAndFileNameOfAPathText) {
  CQorFileOps ops;
  // A path, its folder and its file name.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"C:\\a\\b\\file.txt", "C:\\a\\b\\", "file.txt"},
      {"C:\\x\\x", "C:\\x\\", "x"},  // the name also stands earlier
      {"/opt/snx/SNXSVC.exe", "/opt/snx/", "SNXSVC.exe"},
      {"name.txt", "\\", "name.txt"},
      {"C:\\dir\\ spaced.txt ", "C:\\dir\\", "spaced.txt"},
      {"/opt/snx/", "/opt/snx/", ""}};
  for (const auto& [path, directory, file] : cases) {
    EXPECT_STREQ(ops.DirectoryOf(path), directory) << path;
    EXPECT_STREQ(ops.FileNameOf(path), file) << path;
  }
  CQorStr base;
  CQorStr rest;
  ops.SplitName("my.app.exe", base, rest);
  EXPECT_EQ(base.ToString() + "|" + rest.ToString(), "my|app.exe");
  ops.SplitName("noext", base, rest);
  EXPECT_EQ(base.ToString() + "|" + rest.ToString(), "noext|");
}

TEST(QorFileOpsFiles, CopyDeleteSizeAndTheirWarnings) {
  CapturingLog log;
  TempDir dir;
  CQorFileOps ops;
  dir.Write("a.txt", "12345");
  EXPECT_FALSE(ops.CopyFile(dir.File("missing"), dir.File("b.txt")));
  EXPECT_TRUE(log.lines().empty());  // a missing source is no warning

  dir.Write("b.txt", "old");
  EXPECT_TRUE(ops.CopyFile(dir.File("a.txt"), dir.File("b.txt")));
  EXPECT_EQ(dir.Read("b.txt"), "12345");
  EXPECT_FALSE(ops.CopyFile(dir.File("a.txt"), dir.File("no/such/folder/c.txt ")));
  EXPECT_TRUE(
      log.HasError("Warning: did not copy to target path: " + dir.File("no/such/folder/c.txt") +
                   "\r\n Target path may already be in use."));

  EXPECT_TRUE(ops.DeleteFile(dir.File("b.txt")));
  ops.SetQuiet(true);
  EXPECT_FALSE(ops.DeleteFile(dir.File("b.txt")));
  EXPECT_EQ(ops.Message().View(), "Warning: Unable to delete file at " + dir.File("b.txt") +
                                      "\r\n It may already be open in another process.");
  EXPECT_EQ(log.Errors().size(), 1u);  // quiet: kept, not logged

  EXPECT_EQ(ops.FileSizeOf(dir.File("missing")), -1);
  EXPECT_TRUE(
      log.HasError("Problem: CQorFileOps::FileSizeOf() cannot open " + dir.File("missing")));
  EXPECT_TRUE(ops.DirectoryExists(dir.path()));
  EXPECT_FALSE(ops.DirectoryExists(dir.File("a.txt"))) << "a file is no folder";
}

TEST(QorFileOpsFiles, SizesBeyondTwoGigabytesAreNotCut) {
  TempDir dir;
  const std::string path = dir.File("sparse");
  ASSERT_EQ(std::system(("truncate -s 3G '" + path + "'").c_str()), 0);
  EXPECT_EQ(CQorFileOps().FileSizeOf(path), 3LL * 1024 * 1024 * 1024);
}

class RegistryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    registry_.CloseAll();
    EXPECT_EQ(KeyStore::OpenHandleCount(), handles_at_start_) << "a key handle was not freed";
  }
  // Makes the keys of the path, closing every handle again.
  void Make(const char* path) {
    CRegistry registry;
    HKEY key = nullptr;
    ASSERT_TRUE(registry.CreatePath(HKEY_LOCAL_MACHINE, path, key));
  }
  bool Exists(const char* path) {
    return store_.Snapshot(RegRoot::kLocalMachine).Find(path) != nullptr;
  }

  FakeKeyStore store_;
  ScopedInstall<KeyStore> install_{store_};
  int handles_at_start_ = KeyStore::OpenHandleCount();
  CRegistry registry_;
  HKEY key_ = nullptr;
};

TEST_F(RegistryTest, OpenPathStopsAtAMissingKeyOrAnEmptyName) {
  Make("SOFTWARE\\Qorvex");
  key_ = reinterpret_cast<HKEY>(&registry_);  // anything but null
  EXPECT_FALSE(registry_.OpenPath(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing\\Sentinex", key_));
  EXPECT_EQ(key_, nullptr);
  EXPECT_EQ(registry_.Count(), 0);
  EXPECT_FALSE(Exists("SOFTWARE\\Nothing")) << "OpenPath must not create";
  EXPECT_FALSE(registry_.OpenPath(HKEY_LOCAL_MACHINE, "", key_));
  // A doubled or trailing separator ends the walk after the keys before it.
  ASSERT_TRUE(registry_.OpenPath(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Qorvex", key_));
  EXPECT_EQ(registry_.Count(), 1);
  registry_.CloseAll();
  ASSERT_TRUE(registry_.OpenPath(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qorvex\\", key_));
  EXPECT_EQ(registry_.Count(), 2);
}

TEST_F(RegistryTest, CreatePathMakesTheMissingKeysAndCloseAllClosesThemAll) {
  Make("SOFTWARE");
  ASSERT_TRUE(registry_.CreatePath(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qorvex\\Sentinex", key_));
  EXPECT_EQ(registry_.Count(), 3);
  EXPECT_EQ(registry_.GetAt(2), key_) << "the deepest key is on top";
  EXPECT_TRUE(Exists("software\\qorvex\\sentinex"));
  ASSERT_TRUE(CRegistry::SetString(key_, "AutoRun", "1"));
  registry_.CloseAll();
  EXPECT_EQ(registry_.Count(), 0);

  CQorStr text;
  ASSERT_TRUE(registry_.OpenPath(HKEY_LOCAL_MACHINE, "Software\\QORVEX\\sentinex", key_));
  ASSERT_TRUE(CRegistry::QueryString(key_, "autorun", text));
  EXPECT_EQ(text.View(), "1");
}

TEST_F(RegistryTest, AFailedWalkClosesOnlyItsOwnKeysAndTheChainFreesTheRest) {
  Make("A\\B");
  Make("X\\Y");
  CRegistry registry;
  HKEY first = nullptr;
  ASSERT_TRUE(registry.OpenPath(HKEY_LOCAL_MACHINE, "A\\B", first));
  HKEY second = nullptr;
  EXPECT_FALSE(registry.OpenPath(HKEY_LOCAL_MACHINE, "X\\Y\\Z", second));
  EXPECT_EQ(registry.Count(), 2);
  EXPECT_TRUE(CRegistry::SetDword(first, "Still", 1)) << "the earlier key must stay usable";
  // No CloseAll: destroying the chain frees the keys still open (checked in TearDown).
}

TEST_F(RegistryTest, CreatePathFailureClosesWhatItOpened) {
  Make("A");
  store_.FailWritesAfter(1);  // B is made, C is not
  EXPECT_FALSE(registry_.CreatePath(HKEY_LOCAL_MACHINE, "A\\B\\C", key_));
  EXPECT_EQ(key_, nullptr);
  EXPECT_EQ(registry_.Count(), 0);
  EXPECT_TRUE(Exists("A\\B"));
  EXPECT_FALSE(Exists("A\\B\\C"));
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndStringsFitTheBuffer) {
  ASSERT_TRUE(registry_.CreatePath(HKEY_LOCAL_MACHINE, "SYSTEM\\Windows", key_));
  ASSERT_TRUE(CRegistry::SetDword(key_, "ErrorMode", 2));
  ASSERT_TRUE(CRegistry::SetString(key_, "Long", std::string(259, 'x')));
  std::uint32_t number = 0;
  ASSERT_TRUE(CRegistry::QueryDword(key_, "errormode", number));
  EXPECT_EQ(number, 2u);
  EXPECT_FALSE(CRegistry::QueryDword(key_, "Long", number)) << "a text is not a number";
  CQorStr text;
  EXPECT_FALSE(CRegistry::QueryString(key_, "ErrorMode", text)) << "a number is not a text";
  EXPECT_FALSE(CRegistry::QueryString(key_, "Missing", text));
  // 259 characters and the terminator fill the 260-byte buffer; one more does not fit.
  ASSERT_TRUE(CRegistry::QueryString(key_, "Long", text));
  EXPECT_EQ(text.Length(), 259);
  ASSERT_TRUE(CRegistry::SetString(key_, "Long", std::string(260, 'x')));
  EXPECT_FALSE(CRegistry::QueryString(key_, "Long", text));
}

}  // namespace
}  // namespace snx::platform

#include "core/qor_file_ops.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/test_support.h"

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

}  // namespace

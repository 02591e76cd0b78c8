#include "platform/key_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace snx::platform {
namespace {

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

  int bad = 0;
  int first_bad = 0;
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
  int bad = 0;
  int first_bad = 0;
  const KeyTree tree = KeyTree::Parse(text, bad, first_bad);
  EXPECT_EQ(bad, 4);
  EXPECT_EQ(first_bad, 5);
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

class KeyStoreFileTest : public ::testing::Test {
 protected:
  void SetUp() override { handles_ = KeyStore::OpenHandleCount(); }
  void TearDown() override { EXPECT_EQ(KeyStore::OpenHandleCount(), handles_); }

  HKEY Create(const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(Keys().CreateKey(HKEY_LOCAL_MACHINE, path, key), RegResult::kOk);
    return key;
  }

  snx::test::TempDir dir_;
  snx::test::ScopedEnv root_{"SNX_ROOT", dir_.path().c_str()};
  const std::string store_ = "var/lib/snxsvc/HKEY_LOCAL_MACHINE.reg";
  int handles_ = 0;
};

TEST_F(KeyStoreFileTest, ValuesSurviveInAReadableOwnerOnlyFile) {
  HKEY key = Create("SOFTWARE\\Qorvex\\Sentinex");
  ASSERT_EQ(Keys().SetValue(key, "AutoRun", RegValue::String("1")), RegResult::kOk);
  ASSERT_EQ(Keys().SetValue(key, "Count", RegValue::Dword(7)), RegResult::kOk);
  ASSERT_EQ(Keys().SetValue(key, "AUTORUN", RegValue::String("0")), RegResult::kOk);
  Keys().CloseKey(key);
  EXPECT_NE(dir_.Read(store_).find(
                "[SOFTWARE\\Qorvex\\Sentinex]\n\"AutoRun\"=\"0\"\n\"Count\"=dword:00000007"),
            std::string::npos)
      << dir_.Read(store_);
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File(store_).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

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

#include "platform/key_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using snx::platform::HKEY;
using snx::platform::HKEY_CLASSES_ROOT;
using snx::platform::HKEY_LOCAL_MACHINE;
using snx::platform::Keys;
using snx::platform::KeyStore;
using snx::platform::KeyTree;
using snx::platform::RegResult;
using snx::platform::RegRoot;
using snx::platform::RegValue;

// ---- the text form ----

TEST(KeyTreeTest, TextFormKeepsEveryByteAndTheCaseOfNames) {
  KeyTree tree;
  bool created = false;
  ASSERT_TRUE(tree.Create("SOFTWARE\\Qorvex\\Sentinex", created));
  auto* key = tree.Find("software\\QORVEX\\sentinex");
  ASSERT_NE(key, nullptr);
  const std::string awkward = "a \"quoted\" \\path\\ with\ttab\r\nand \x7f\xe9 bytes";
  key->values.emplace_back("AutoRun", RegValue::String("1"));
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
  ASSERT_EQ(read->values.size(), 4u);
  EXPECT_EQ(read->values[1].first, "Odd \"name\"");
  EXPECT_EQ(read->values[1].second.text, awkward);
  EXPECT_EQ(read->values[2].first, "");
  EXPECT_EQ(read->values[3].second, RegValue::Dword(0xDEADBEEF));
  // Parents exist as keys of their own.
  EXPECT_NE(back.Find("software\\qorvex"), nullptr);
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
  ASSERT_EQ(key->values.size(), 2u);
  EXPECT_EQ(key->values[0].second.text, "1");
  EXPECT_EQ(key->values[1].second, RegValue::Dword(2));
}

TEST(KeyTreeTest, SubkeysFollowTheirParentWhateverTheirNames) {
  KeyTree tree;
  bool created = false;
  for (const char* p : {"A B", "A\\Z", "A", "A\\B\\C", "B"}) ASSERT_TRUE(tree.Create(p, created));
  EXPECT_EQ(tree.SubKeyNames("a"), (std::vector<std::string>{"B", "Z"}));
  EXPECT_TRUE(tree.HasSubkeys("A"));
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

  std::string StoreFile() const { return dir_.path() + "/var/lib/snxsvc/HKEY_LOCAL_MACHINE.reg"; }
  HKEY Create(const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(Keys().CreateKey(HKEY_LOCAL_MACHINE, path, key), RegResult::kOk);
    return key;
  }

  snx::test::TempDir dir_;
  snx::test::ScopedEnv root_{"SNX_ROOT", dir_.path().c_str()};
  int handles_ = 0;
};

TEST_F(KeyStoreFileTest, ValuesSurviveInAReadableOwnerOnlyFile) {
  HKEY key = Create("SOFTWARE\\Qorvex\\Sentinex");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(Keys().SetValue(key, "AutoRun", RegValue::String("1")), RegResult::kOk);
  ASSERT_EQ(Keys().SetValue(key, "Count", RegValue::Dword(7)), RegResult::kOk);
  ASSERT_EQ(Keys().SetValue(key, "AUTORUN", RegValue::String("0")), RegResult::kOk);
  Keys().CloseKey(key);

  const std::string text = dir_.Read("var/lib/snxsvc/HKEY_LOCAL_MACHINE.reg");
  EXPECT_NE(text.find("[SOFTWARE\\Qorvex\\Sentinex]\n\"AutoRun\"=\"0\"\n\"Count\"=dword:00000007"),
            std::string::npos)
      << text;
  struct stat st {};
  ASSERT_EQ(::stat(StoreFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  HKEY again = nullptr;
  ASSERT_EQ(Keys().OpenKey(HKEY_LOCAL_MACHINE, "software\\qorvex\\SENTINEX", again),
            RegResult::kOk);
  RegValue value;
  ASSERT_EQ(Keys().QueryValue(again, "autorun", value), RegResult::kOk);
  EXPECT_EQ(value.text, "0");
  EXPECT_EQ(Keys().QueryValue(again, "none", value), RegResult::kNotFound);
  Keys().CloseKey(again);
  // The other root is a store of its own.
  EXPECT_EQ(Keys().OpenKey(HKEY_CLASSES_ROOT, "SOFTWARE", again), RegResult::kNotFound);
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
  HKEY key = Create("A");
  Keys().CloseKey(key);
  std::string text = dir_.Read("var/lib/snxsvc/HKEY_LOCAL_MACHINE.reg");
  text += "this line is not a key or a value\n";
  dir_.Write("var/lib/snxsvc/HKEY_LOCAL_MACHINE.reg", text);

  HKEY b = nullptr;
  EXPECT_EQ(Keys().CreateKey(HKEY_LOCAL_MACHINE, "B", b), RegResult::kCorrupt);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(dir_.Read("var/lib/snxsvc/HKEY_LOCAL_MACHINE.reg"), text);
  // What can be read still reads.
  ASSERT_EQ(Keys().OpenKey(HKEY_LOCAL_MACHINE, "A", b), RegResult::kOk);
  Keys().CloseKey(b);
}

TEST_F(KeyStoreFileTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kValues = 40;
  HKEY key = Create("Shared");
  Keys().CloseKey(key);
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::vector<pid_t> children;
  for (const char* prefix : {"first", "second"}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      char byte;
      ::close(go[1]);
      if (::read(go[0], &byte, 1) != 0) ::_exit(3);  // both start when the pipe closes
      HKEY k = nullptr;
      if (Keys().OpenKey(HKEY_LOCAL_MACHINE, "Shared", k) != RegResult::kOk) ::_exit(1);
      for (int i = 0; i < kValues; ++i) {
        const std::string name = std::string(prefix) + std::to_string(i);
        if (Keys().SetValue(k, name, RegValue::String(name)) != RegResult::kOk) ::_exit(2);
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  ::close(go[0]);
  ::close(go[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  ASSERT_EQ(Keys().OpenKey(HKEY_LOCAL_MACHINE, "Shared", key), RegResult::kOk);
  std::vector<std::string> names;
  ASSERT_EQ(Keys().ValueNames(key, names), RegResult::kOk);
  EXPECT_EQ(names.size(), 2u * kValues);
  for (const char* prefix : {"first", "second"}) {
    for (int i = 0; i < kValues; ++i) {
      const std::string name = std::string(prefix) + std::to_string(i);
      RegValue value;
      ASSERT_EQ(Keys().QueryValue(key, name, value), RegResult::kOk) << name;
      EXPECT_EQ(value.text, name);
    }
  }
  Keys().CloseKey(key);
  EXPECT_FALSE(::access((StoreFile() + ".new").c_str(), F_OK) == 0) << "a temporary file is left";
}

}  // namespace

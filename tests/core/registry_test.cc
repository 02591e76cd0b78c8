#include "core/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake_key_store.h"

namespace {

using snx::platform::FakeKeyStore;
using snx::platform::KeyStore;
using snx::platform::RegRoot;
using snx::platform::ScopedInstall;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { handles_at_start_ = KeyStore::OpenHandleCount(); }
  void TearDown() override {
    EXPECT_EQ(KeyStore::OpenHandleCount(), handles_at_start_) << "a key handle was not freed";
  }
  // Makes the keys of the path, closing every handle again.
  void Make(const char* path) {
    CRegistry registry;
    HKEY key = nullptr;
    ASSERT_TRUE(registry.CreatePath(HKEY_LOCAL_MACHINE, path, key));
    registry.CloseAll();
  }
  bool Exists(const char* path) {
    return store_.Snapshot(RegRoot::kLocalMachine).Find(path) != nullptr;
  }

  FakeKeyStore store_;
  ScopedInstall<KeyStore> install_{store_};
  int handles_at_start_ = 0;
};

TEST_F(RegistryTest, OpenPathStopsAtAMissingKeyAndLeavesNothingOpen) {
  Make("SOFTWARE\\Qorvex");
  CRegistry registry;
  HKEY key = reinterpret_cast<HKEY>(&registry);  // anything but null
  EXPECT_FALSE(registry.OpenPath(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing\\Sentinex", key));
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(registry.Count(), 0);
  EXPECT_FALSE(Exists("SOFTWARE\\Nothing")) << "OpenPath must not create";
}

TEST_F(RegistryTest, EmptyPathsAndEmptyNamesEndTheWalk) {
  Make("SOFTWARE\\Qorvex");
  CRegistry registry;
  HKEY key = nullptr;
  EXPECT_FALSE(registry.OpenPath(HKEY_LOCAL_MACHINE, "", key));
  EXPECT_EQ(registry.Count(), 0);
  // A doubled separator ends the walk after the keys before it.
  ASSERT_TRUE(registry.OpenPath(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Qorvex", key));
  EXPECT_EQ(registry.Count(), 1);
  registry.CloseAll();
  ASSERT_TRUE(registry.OpenPath(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qorvex\\", key));
  EXPECT_EQ(registry.Count(), 2);
  registry.CloseAll();
}

TEST_F(RegistryTest, CreatePathMakesTheMissingKeysAndGivesTheDeepest) {
  Make("SOFTWARE");
  CRegistry registry;
  HKEY key = nullptr;
  ASSERT_TRUE(registry.CreatePath(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qorvex\\Sentinex", key));
  EXPECT_EQ(registry.Count(), 3);
  EXPECT_TRUE(Exists("software\\qorvex\\sentinex"));
  ASSERT_TRUE(CRegistry::SetString(key, "AutoRun", "1"));
  registry.CloseAll();
  EXPECT_EQ(registry.Count(), 0);

  CQorStr text;
  ASSERT_TRUE(registry.OpenPath(HKEY_LOCAL_MACHINE, "Software\\QORVEX\\sentinex", key));
  ASSERT_TRUE(CRegistry::QueryString(key, "autorun", text));
  EXPECT_EQ(text.View(), "1");
  registry.CloseAll();
}

TEST_F(RegistryTest, CloseAllClosesEveryKeyAndClosedKeysAreRefused) {
  Make("A\\B\\C");
  CRegistry registry;
  HKEY key = nullptr;
  ASSERT_TRUE(registry.OpenPath(HKEY_LOCAL_MACHINE, "A\\B\\C", key));
  ASSERT_EQ(registry.Count(), 3);
  EXPECT_EQ(registry.GetAt(2), key) << "the deepest key is on top";
  registry.CloseAll();
  EXPECT_EQ(registry.Count(), 0);
  std::uint32_t n = 0;
  EXPECT_FALSE(CRegistry::QueryDword(key, "x", n));
}

TEST_F(RegistryTest, AFailedWalkClosesOnlyItsOwnKeys) {
  Make("A\\B");
  Make("X\\Y");
  CRegistry registry;
  HKEY first = nullptr;
  ASSERT_TRUE(registry.OpenPath(HKEY_LOCAL_MACHINE, "A\\B", first));
  HKEY second = nullptr;
  EXPECT_FALSE(registry.OpenPath(HKEY_LOCAL_MACHINE, "X\\Y\\Z", second));
  EXPECT_EQ(registry.Count(), 2);
  EXPECT_TRUE(CRegistry::SetDword(first, "Still", 1)) << "the earlier key must stay usable";
  registry.CloseAll();
}

TEST_F(RegistryTest, CreatePathFailureClosesWhatItOpened) {
  Make("A");
  store_.FailWritesAfter(1);  // B is made, C is not
  CRegistry registry;
  HKEY key = nullptr;
  EXPECT_FALSE(registry.CreatePath(HKEY_LOCAL_MACHINE, "A\\B\\C", key));
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(registry.Count(), 0);
  EXPECT_TRUE(Exists("A\\B"));
  EXPECT_FALSE(Exists("A\\B\\C"));
}

TEST_F(RegistryTest, DestroyingTheChainFreesKeysStillOpen) {
  Make("A\\B");
  {
    CRegistry registry;
    HKEY key = nullptr;
    ASSERT_TRUE(registry.OpenPath(HKEY_LOCAL_MACHINE, "A\\B", key));
  }
  // TearDown checks that no handle is left.
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndStringsFitTheBuffer) {
  CRegistry registry;
  HKEY key = nullptr;
  ASSERT_TRUE(registry.CreatePath(HKEY_LOCAL_MACHINE, "SYSTEM\\Windows", key));
  ASSERT_TRUE(CRegistry::SetDword(key, "ErrorMode", 2));
  ASSERT_TRUE(CRegistry::SetString(key, "Empty", ""));
  std::uint32_t number = 0;
  ASSERT_TRUE(CRegistry::QueryDword(key, "errormode", number));
  EXPECT_EQ(number, 2u);
  CQorStr text("old");
  EXPECT_FALSE(CRegistry::QueryString(key, "ErrorMode", text)) << "a number is not a text";
  EXPECT_FALSE(CRegistry::QueryDword(key, "Empty", number));
  ASSERT_TRUE(CRegistry::QueryString(key, "Empty", text));
  EXPECT_EQ(text.Length(), 0);
  EXPECT_FALSE(CRegistry::QueryString(key, "Missing", text));

  // 259 characters and the terminator fill the 260-byte buffer; one more does not fit.
  ASSERT_TRUE(CRegistry::SetString(key, "Long", std::string(259, 'x')));
  ASSERT_TRUE(CRegistry::QueryString(key, "Long", text));
  EXPECT_EQ(text.Length(), 259);
  ASSERT_TRUE(CRegistry::SetString(key, "Long", std::string(260, 'x')));
  EXPECT_FALSE(CRegistry::QueryString(key, "Long", text));
  registry.CloseAll();
}

}  // namespace

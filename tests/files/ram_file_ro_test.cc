#include "files/ram_file_ro.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "files/crypto_txtfile.h"
#include "platform/fake/forwarding_file_system.h"
#include "platform/path_map.h"
#include "support/test_support.h"

namespace {

using snx::platform::FileSystem;
using snx::platform::ScopedInstall;
using snx::test::CapturingLog;
using snx::test::TempDir;
using Lines = std::vector<std::string>;

constexpr const char* kName = "\\AutoSet.caf";

// Writes the settings file as the service would.
void WriteSettings(const TempDir& dir, const Lines& lines) {
  CCryptoTxtfile file;
  ASSERT_TRUE(file.Initialize(CCryptoTxtfile::kSettingsLineSize));
  ASSERT_TRUE(file.Create(dir.File("AutoSet.caf")));
  for (const auto& l : lines) ASSERT_TRUE(file.Append(l));
  ASSERT_TRUE(file.Close());
}

Lines ReadSettings(const TempDir& dir) {
  CCryptoTxtfile file;
  EXPECT_TRUE(file.Initialize(CCryptoTxtfile::kSettingsLineSize));
  EXPECT_TRUE(file.OpenForReadOnly(dir.File("AutoSet.caf")));
  Lines out;
  while (file.ReadTextLine()) out.push_back(file.Line());
  return out;
}

const Lines kSample = {
    "[KEYS]",  "MinuteInterval=5",   "Password= two words", "NoEquals",           "=orphan",
    "[URLS]",  "http://127.0.0.1/a", "http://[::1]/b",      "http://127.0.0.1/c", "[STOPS]",
    "[PROGS]", "app.exe -x"};

class RamFileTest : public ::testing::Test {
 protected:
  void Load(const Lines& lines) {
    WriteSettings(dir_, lines);
    ASSERT_TRUE(image_.Initialize(dir_.path(), kName));
  }
  std::vector<std::string> Section(const char* name) {
    std::vector<std::string> out;
    for (const char* l = image_.FirstLineOfSection(name); *l != '\0';
         l = image_.NextLineOfSection()) {
      out.push_back(l);
    }
    return out;
  }

  CapturingLog log_;
  TempDir dir_;
  CRamFileRO image_;
};

TEST_F(RamFileTest, SeparatorsAtTheJoinGiveOneFile) {
  const std::string d = dir_.path();
  const std::string expected = snx::platform::ToPosixPath(d + "\\AutoSet.caf");
  for (const auto& [folder, name] :
       std::vector<std::pair<std::string, std::string>>{{d, "\\AutoSet.caf"},
                                                        {d + "\\", "AutoSet.caf"},
                                                        {d + "\\", "\\AutoSet.caf"},
                                                        {d + "/", "/AutoSet.caf"},
                                                        {d, "AutoSet.caf"}}) {
    EXPECT_EQ(snx::platform::ToPosixPath(CRamFileRO::JoinPath(folder, name)), expected)
        << folder << " + " << name;
  }
  EXPECT_EQ(CRamFileRO::JoinPath("C:\\Snx", "AutoSet.caf"), "C:\\Snx\\AutoSet.caf");
}

TEST_F(RamFileTest, KeysCompareWithoutCaseAndValuesComeAsStored) {
  Load(kSample);
  EXPECT_STREQ(image_.GetKey("minuteinterval"), "5");
  EXPECT_STREQ(image_.GetKey("  MINUTEINTERVAL "), "5");
  EXPECT_STREQ(image_.GetKey("Password"), " two words");
  EXPECT_STREQ(image_.GetKey("NoEquals"), "NoEquals");
  EXPECT_STREQ(image_.GetKey("orphan"), "");
  EXPECT_STREQ(image_.GetKey("Missing"), "");
  EXPECT_FALSE(image_.HasKey("Missing"));
  EXPECT_TRUE(image_.HasKey("password"));
  EXPECT_STREQ(image_.GetKey("http://127.0.0.1/a"), "") << "only [KEYS] holds keys";
}

TEST_F(RamFileTest, LinesAreTrimmedWhenLoaded) {
  Load({"  [KEYS] ", "MinuteInterval=7  ~", "[URLS]", "   http://x/ "});
  EXPECT_EQ(image_.Lines(), (Lines{"[KEYS]", "MinuteInterval=7", "[URLS]", "http://x/"}));
  EXPECT_STREQ(image_.GetKey("MinuteInterval"), "7");
}

TEST_F(RamFileTest, SetKeyReplacesTheLineOrAddsOneAtTheEndOfKeys) {
  Load(kSample);
  ASSERT_TRUE(image_.SetKey("MinuteInterval", "5"));
  EXPECT_FALSE(image_.IsChanged()) << "the same line is no change";
  ASSERT_TRUE(image_.SetKey("RstrSecs", "30"));
  ASSERT_TRUE(image_.SetKey("minuteINTERVAL", "9"));
  EXPECT_TRUE(image_.IsChanged());
  const Lines lines = image_.Lines();
  EXPECT_EQ(lines[1], "minuteINTERVAL=9");
  EXPECT_EQ(lines[5], "RstrSecs=30");
  EXPECT_EQ(lines[6], "[URLS]");
  EXPECT_EQ(lines.size(), kSample.size() + 1);
}

TEST_F(RamFileTest, SetKeyWhereKeysIsLastEmptyOrMissing) {
  struct Case {
    const char* name;
    Lines file;
    Lines after;
  };
  const Case cases[] = {
      {"keys last", {"[URLS]", "u", "[KEYS]", "A=1"}, {"[URLS]", "u", "[KEYS]", "A=1", "B=2"}},
      {"keys empty before another section",
       {"[KEYS]", "[URLS]", "u"},
       {"[KEYS]", "B=2", "[URLS]", "u"}},
      {"keys empty and last", {"[URLS]", "u", "[KEYS]"}, {"[URLS]", "u", "[KEYS]", "B=2"}},
      {"no keys", {"[URLS]", "u"}, {"[URLS]", "u", "[KEYS]", "B=2"}},
      {"empty file", {}, {"[KEYS]", "B=2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteSettings(dir, c.file);
    CRamFileRO image;
    ASSERT_TRUE(image.Initialize(dir.path(), kName));
    ASSERT_TRUE(image.SetKey("B", "2"));
    EXPECT_EQ(image.Lines(), c.after);
    EXPECT_STREQ(image.GetKey("b"), "2");
  }
}

TEST_F(RamFileTest, SectionsEndAtTheNextLineWithABracket) {
  Load(kSample);
  EXPECT_EQ(Section("[urls]"), (Lines{"http://127.0.0.1/a"}));
  EXPECT_EQ(Section("[PROGS]"), (Lines{"app.exe -x"}));
  // An empty section reads as empty, and its walk never runs into the next section.
  EXPECT_STREQ(image_.FirstLineOfSection("[STOPS]"), "");
  EXPECT_STREQ(image_.NextLineOfSection(), "");
  EXPECT_STREQ(image_.NextLineOfSection(), "");
  EXPECT_STREQ(image_.NextLineOfSection(), "") << "no reader has a section yet";
}

TEST_F(RamFileTest, AMissingSectionIsAddedAtTheEnd) {
  Load({"[KEYS]", "A=1", "[URLS]", "u"});
  EXPECT_STREQ(image_.FirstLineOfSection("[EMAILS]"), "");
  EXPECT_EQ(image_.Lines(), (Lines{"[KEYS]", "A=1", "[URLS]", "u", "[EMAILS]"}));
  EXPECT_STREQ(image_.FirstLineOfSection("[EMAILS]"), "");
  EXPECT_EQ(image_.Lines().size(), 5u) << "added once";
}

TEST_F(RamFileTest, SaveDropsEmptyLinesAndLoadsBackTheSameLines) {
  CRamFileRO image;
  ASSERT_TRUE(
      image.InitializeWithLines(dir_.path(), kName, {"[KEYS]", "", "A=1 ", "   ", "[URLS]"}));
  ASSERT_TRUE(image.SaveToFile());
  EXPECT_FALSE(image.IsChanged());
  EXPECT_EQ(ReadSettings(dir_), (Lines{"[KEYS]", "A=1", "[URLS]"}));
  CRamFileRO again;
  ASSERT_TRUE(again.Initialize(dir_.path(), kName));
  EXPECT_EQ(again.Lines(), (Lines{"[KEYS]", "A=1", "[URLS]"}));
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File("AutoSet.caf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

class RenameFails : public snx::platform::ForwardingFileSystem {
 public:
  bool Rename(std::string_view, std::string_view) override { return false; }
};

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename().string());
  }
  return names;
}

TEST_F(RamFileTest, AFailedSaveLeavesTheOldFileWhole) {
  Load(kSample);
  const std::string before = dir_.Read("AutoSet.caf");
  {
    image_.SetKey("A", "1");
    RenameFails files;
    ScopedInstall<FileSystem> install(files);
    EXPECT_FALSE(image_.SaveToFile());
    EXPECT_TRUE(log_.HasError("CRamFileRO::SaveToFile() failed."));
  }
  image_.SetKey("Bad", "tab\there");
  EXPECT_FALSE(image_.SaveToFile());
  EXPECT_EQ(dir_.Read("AutoSet.caf"), before);
  EXPECT_EQ(FolderEntries(dir_.path()), (Lines{"AutoSet.caf"})) << "no new copy is left";
  EXPECT_TRUE(image_.IsChanged());
}

class OpenForReadingFails : public snx::platform::ForwardingFileSystem {
 public:
  std::unique_ptr<snx::platform::File> Open(std::string_view path, std::string_view mode,
                                            unsigned create_mode) override {
    if (mode.front() == 'r') return nullptr;
    return ForwardingFileSystem::Open(path, mode, create_mode);
  }
};

TEST_F(RamFileTest, AFileThatCannotBeOpenedIsNeverEmptied) {
  WriteSettings(dir_, kSample);
  const std::string before = dir_.Read("AutoSet.caf");
  {
    OpenForReadingFails files;
    ScopedInstall<FileSystem> install(files);
    EXPECT_FALSE(image_.Initialize(dir_.path(), kName));
    EXPECT_TRUE(log_.HasError("CRamFileRO::LoadToRam() failed."));
  }
  EXPECT_EQ(dir_.Read("AutoSet.caf"), before);
  // The failed load left no lines behind, so the next Initialize reads the file.
  ASSERT_TRUE(image_.Initialize(dir_.path(), kName));
  EXPECT_EQ(image_.Lines(), kSample);
}

TEST_F(RamFileTest, AMissingFileIsCreatedEmpty) {
  ASSERT_TRUE(image_.Initialize(dir_.path(), kName));
  EXPECT_TRUE(image_.Lines().empty());
  EXPECT_EQ(dir_.Read("AutoSet.caf"), "");
}

TEST_F(RamFileTest, ALineTooLongToReadFailsTheLoad) {
  WriteSettings(dir_, {"[KEYS]", "A=1"});
  // Another writer's line of 300 characters after the two good ones.
  std::string raw = dir_.Read("AutoSet.caf");
  for (int m = 0; m < 300; ++m)
    raw += static_cast<char>(CCryptoTxtfile::Encipher('x', 2 * 255 + m));
  raw += "\r\n";
  dir_.Write("AutoSet.caf", raw);
  EXPECT_FALSE(image_.Initialize(dir_.path(), kName));
  EXPECT_TRUE(image_.Lines().empty());
  EXPECT_EQ(dir_.Read("AutoSet.caf"), raw);
}

TEST_F(RamFileTest, AnInitializedImageIsNotReadAgain) {
  Load({"[KEYS]", "A=1"});
  WriteSettings(dir_, {"[KEYS]", "A=2"});
  ASSERT_TRUE(image_.Initialize(dir_.path(), kName));
  EXPECT_STREQ(image_.GetKey("A"), "1");
  ASSERT_TRUE(image_.LoadToRam());
  EXPECT_STREQ(image_.GetKey("A"), "2") << "an explicit load reads the file afresh";
  EXPECT_EQ(image_.Lines().size(), 2u);
}

}  // namespace

#include "files/ram_file_ro.h"

#include "files/settings_file_writer.h"
#include "platform/fake/forwarding_file_system.h"
#include "platform/path_map.h"

namespace {

using snx::platform::FileSystem;
using snx::platform::ScopedInstall;
using snx::test::CapturingLog;
using snx::test::TempDir;
using snx::test::WriteSettings;
using Lines = std::vector<std::string>;

constexpr const char* kName = "\\AutoSet.caf";

const Lines kSample = {
    "[KEYS]",  "A=1",     "[URLS]",    "http://127.0.0.1/a", "http://[::1]/b", "http://127.0.0.1/c",
    "[STOPS]", "[PROGS]", "app.exe -x"};

class RamFileTest : public ::testing::Test {
 protected:
  void Load(const Lines& lines) {
    WriteSettings(dir_, lines);
    ASSERT_TRUE(image_.Initialize(dir_.path(), kName));
  }

  CapturingLog log_;
  TempDir dir_;
  CRamFileRO image_;
};

TEST_F(RamFileTest, SeparatorsAtTheJoinGiveOneFile) {
  for (const std::string& folder : {dir_.path(), dir_.path() + "\\", dir_.path() + "/"}) {
    for (const char* name : {"AutoSet.caf", "\\AutoSet.caf", "/AutoSet.caf"}) {
      EXPECT_EQ(snx::platform::ToPosixPath(CRamFileRO::JoinPath(folder, name)),
                dir_.File("AutoSet.caf"));
    }
  }
}

TEST_F(RamFileTest, LinesAreTrimmedAndKeysCompareWithoutCaseAndValuesComeAsStored) {
  Load({"  [KEYS] ", "MinuteInterval=5  ~", "Password= two words", "NoEquals", "=orphan", "[URLS]",
        " http://127.0.0.1/a "});
  EXPECT_EQ(std::tuple(image_.Lines()[0], image_.Lines()[6]),
            std::tuple("[KEYS]", "http://127.0.0.1/a"));
  // A line that begins with "=" names no key, and only [KEYS] holds keys.
  EXPECT_EQ(
      (Lines{image_.GetKey("  MINUTEINTERVAL "), image_.GetKey("Password"),
             image_.GetKey("NoEquals"), image_.GetKey(""), image_.GetKey("http://127.0.0.1/a")}),
      (Lines{"5", " two words", "NoEquals", "", ""}));
  EXPECT_EQ(std::tuple(image_.HasKey("Missing"), image_.HasKey("password")),
            std::tuple(false, true));
}

TEST_F(RamFileTest, SetKeyReplacesTheKeysLineOrAddsOneAtTheEndOfKeys) {
  const std::pair<Lines, Lines> cases[] = {
      {{"[KEYS]", "A=1", " b = 1", "[URLS]", "u"}, {"[KEYS]", "A=1", "B=2", "[URLS]", "u"}},
      {{"[KEYS]", "A=1", "[URLS]", "B=1"}, {"[KEYS]", "A=1", "B=2", "[URLS]", "B=1"}},
      {{"[URLS]", "u", "[KEYS]", "A=1"}, {"[URLS]", "u", "[KEYS]", "A=1", "B=2"}},
      {{"[KEYS]", "[URLS]", "u"}, {"[KEYS]", "B=2", "[URLS]", "u"}},
      {{"[URLS]", "u", "[KEYS]"}, {"[URLS]", "u", "[KEYS]", "B=2"}},
      {{"[URLS]", "u"}, {"[URLS]", "u", "[KEYS]", "B=2"}},
  };
  for (const auto& [file, after] : cases) {
    SCOPED_TRACE(testing::PrintToString(file));
    TempDir dir;
    WriteSettings(dir, file);
    CRamFileRO image;
    ASSERT_TRUE(image.Initialize(dir.path(), kName));
    ASSERT_TRUE(image.SetKey("B", "2"));
    EXPECT_EQ(image.Lines(), after);
  }
}

TEST_F(RamFileTest, SectionsEndAtTheNextLineWithABracketAndMissingOnesAreAdded) {
  Load(kSample);
  // A line with "[" anywhere ends a section, the last one ends with the file, and the walk of
  // an empty section never runs into the next one.
  EXPECT_EQ((Lines{image_.FirstLineOfSection("[urls]"), image_.NextLineOfSection(),
                   image_.NextLineOfSection(), image_.FirstLineOfSection("[PROGS]"),
                   image_.NextLineOfSection(), image_.FirstLineOfSection("[STOPS]"),
                   image_.NextLineOfSection(), image_.FirstLineOfSection("[EMAILS]"),
                   image_.FirstLineOfSection("[EMAILS]")}),
            (Lines{"http://127.0.0.1/a", "", "", "app.exe -x", "", "", "", "", ""}));
  Lines expected = kSample;
  expected.push_back("[EMAILS]");  // once
  EXPECT_EQ(image_.Lines(), expected);
}

TEST_F(RamFileTest, SaveDropsEmptyLinesAndMakesAPrivateFile) {
  CRamFileRO image;
  ASSERT_TRUE(
      image.InitializeWithLines(dir_.path(), kName, {"[KEYS]", "", "A=1 ", "   ", "[URLS]"}));
  ASSERT_TRUE(image.SaveToFile());
  EXPECT_FALSE(image.IsChanged());
  CRamFileRO again;
  ASSERT_TRUE(again.Initialize(dir_.path(), kName));
  EXPECT_EQ(again.Lines(), (Lines{"[KEYS]", "A=1", "[URLS]"}));
  using std::filesystem::perms;
  EXPECT_EQ(std::filesystem::status(dir_.File("AutoSet.caf")).permissions(),
            perms::owner_read | perms::owner_write);
}

TEST_F(RamFileTest, AFailedSaveLeavesTheOldFileWhole) {
  Load(kSample);
  const std::string before = dir_.Read("AutoSet.caf");
  {
    image_.SetKey("A", "1");
    snx::test::RenameFails files;
    ScopedInstall<FileSystem> install(files);
    EXPECT_FALSE(image_.SaveToFile());
    EXPECT_TRUE(log_.HasError("CRamFileRO::SaveToFile() failed."));
  }
  image_.SetKey("Bad", "tab\there");
  EXPECT_FALSE(image_.SaveToFile());
  EXPECT_EQ(dir_.Read("AutoSet.caf"), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1)
      << "no new copy is left";
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

TEST_F(RamFileTest, AFileThatCannotBeReadFailsTheLoadAndIsLeftAlone) {
  WriteSettings(dir_, kSample);
  const std::string good = dir_.Read("AutoSet.caf");
  {
    OpenForReadingFails files;
    ScopedInstall<FileSystem> install(files);
    EXPECT_FALSE(image_.Initialize(dir_.path(), kName));
    EXPECT_TRUE(log_.HasError("CRamFileRO::LoadToRam() failed."));
  }
  EXPECT_EQ(dir_.Read("AutoSet.caf"), good);
  // A line one longer than a line may be, as another writer might leave it.
  dir_.Write("AutoSet.caf", good + std::string(256, 'x') + "\r\n");
  EXPECT_FALSE(image_.Initialize(dir_.path(), kName));
  EXPECT_TRUE(log_.HasError("CCryptoTxtfile::ReadTextLine has buffer overflow."));
  // The failed loads left no lines behind, so the next Initialize reads the mended file.
  dir_.Write("AutoSet.caf", good);
  ASSERT_TRUE(image_.Initialize(dir_.path(), kName));
  EXPECT_EQ(image_.Lines(), kSample);
}

TEST_F(RamFileTest, AMissingFileIsCreatedEmptyAndAnImageIsReadOnceUnlessLoadToRamIsAsked) {
  CRamFileRO empty;
  ASSERT_TRUE(empty.Initialize(dir_.path(), kName));
  EXPECT_TRUE(empty.Lines().empty());
  EXPECT_EQ(dir_.Read("AutoSet.caf"), "");
  Load({"[KEYS]", "A=1"});
  WriteSettings(dir_, {"[KEYS]", "A=2"});
  ASSERT_TRUE(image_.Initialize(dir_.path(), kName));
  EXPECT_STREQ(image_.GetKey("A"), "1");
  ASSERT_TRUE(image_.LoadToRam());
  EXPECT_EQ(image_.Lines(), (Lines{"[KEYS]", "A=2"}));
}

}  // namespace

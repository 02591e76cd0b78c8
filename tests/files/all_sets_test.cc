#include "files/all_sets.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "files/crypto_txtfile.h"
#include "files/ram_file_ro.h"
#include "support/test_support.h"

namespace {

using snx::test::CapturingLog;
using snx::test::TempDir;
using Lines = std::vector<std::string>;

void WriteSettings(const TempDir& dir, const Lines& lines) {
  CCryptoTxtfile file;
  ASSERT_TRUE(file.Initialize(CCryptoTxtfile::kSettingsLineSize));
  ASSERT_TRUE(file.Create(dir.File("AutoSet.caf")));
  for (const auto& l : lines) ASSERT_TRUE(file.Append(l));
  ASSERT_TRUE(file.Close());
}

Lines ReadSettings(const TempDir& dir) {
  CRamFileRO image;
  EXPECT_TRUE(image.Initialize(dir.path(), CAllSets::kSettingsFileName));
  return image.Lines();
}

// The settings model over its own image, loaded from `keys` written under [KEYS].
class Loaded {
 public:
  explicit Loaded(const Lines& keys, const Lines& after = {}) {
    Lines lines = {"[KEYS]"};
    lines.insert(lines.end(), keys.begin(), keys.end());
    lines.insert(lines.end(), after.begin(), after.end());
    WriteSettings(dir, lines);
    sets.SetProgramDirectory(dir.path());
    sets.SetSettingsImage(&image);
    ok = sets.ReInitialize();
  }
  TempDir dir;
  CRamFileRO image;
  CAllSets sets;
  bool ok = false;
};

TEST(AllSetsTest, NumbersTakeTheirDefaultsOnlyWhenMissingOrEmpty) {
  struct Case {
    Lines keys;
    int minutes;
    int restart_secs;
    int restarts;
    int sensitivity;
  };
  const Case cases[] = {
      {{}, 10, 300, 0, 5},
      {{"MinuteInterval=0"}, 0, 15, 0, 5},
      {{"MinuteInterval=1"}, 1, 30, 0, 5},
      {{"MinuteInterval=", "RstrSecs=", "Sensitivity="}, 10, 300, 0, 5},
      {{"MinuteInterval=abc", "RstrSecs=x7", "RestartsB4Reboot= 3", "Sensitivity=-2"}, 0, 0, 3, -2},
      {{"MinuteInterval=-4"}, -4, 15, 0, 5},
      {{"MinuteInterval=2147483647"}, INT_MAX, INT_MAX, 0, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys.empty() ? std::string("no keys") : c.keys.front());
    Loaded l(c.keys);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.sets.m_iMinuteInterval, c.minutes);
    EXPECT_EQ(l.sets.m_iRstrSecs, c.restart_secs);
    EXPECT_EQ(l.sets.m_iRestartsB4Reboot, c.restarts);
    EXPECT_EQ(l.sets.m_iSensitivity, c.sensitivity);
  }
}

TEST(AllSetsTest, YesNoIsTrueOnlyForOneAndT) {
  struct Case {
    const char* line;
    bool watch;
    bool log_events;
  };
  const Case cases[] = {
      {"", true, false},  // both keys missing
      {"WATCH=", true, false},     {"WATCH=0", false, false},     {"WATCH=yes", false, false},
      {"WATCH=T", true, false},    {"WATCH= t", true, false},     {"WATCH=True", false, false},
      {"LogEvents=1", true, true}, {"LogEvents=10", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Loaded l(*c.line ? Lines{c.line} : Lines{});
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.sets.m_bWATCH, c.watch);
    EXPECT_EQ(l.sets.m_bLogEvents, c.log_events);
  }
}

TEST(AllSetsTest, ServerStateWords) {
  struct Case {
    const char* line;
    int state;
  };
  const Case cases[] = {
      {"SvrStatus=Up", 1000},   {"SvrStatus=rebooting", 1002},     {"SvrStatus= RESTARTING", 1001},
      {"SvrStatus=Down", 1000}, {"SvrStatus=Rebooting now", 1000}, {"Other=1", 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Loaded l({c.line});
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.sets.m_iLastKnownServerState, c.state);
  }
}

TEST(AllSetsTest, TextsAreKeptAsStoredAndUseIniIsAlwaysOff) {
  Loaded l({"Password= p w", "UseIni=1"});
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.sets.m_sPassword.View(), " p w");
  EXPECT_EQ(l.sets.m_sUseIni.View(), "1");
  EXPECT_FALSE(l.sets.m_bUseIni);
}

TEST(AllSetsTest, PhoneAlertsNeedBothMessagesAndAnEnabledNumber) {
  struct Case {
    const char* name;
    Lines keys;
    bool ready;
  };
  const Case cases[] = {
      {"entry 3 complete", {"PNum3=555", "PE3=1", "MsgDown=d", "MsgUp=u"}, true},
      {"no up message", {"PNum3=555", "PE3=1", "MsgDown=d"}, false},
      {"entry not enabled", {"PNum3=555", "PE3=0", "MsgDown=d", "MsgUp=u"}, false},
      {"enabled without number", {"PE2=1", "PNum3=555", "MsgDown=d", "MsgUp=u"}, false},
      {"entry 6", {"PNum6=555", "PE6=T", "PName6=Ann", "MsgDown=d", "MsgUp=u"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Loaded l(c.keys);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.sets.m_bPhoneAlertsReady, c.ready);
  }
}

TEST(AllSetsTest, LoadAddsSvrStatusAtTheEndOfKeys) {
  Loaded l({"MinuteInterval=5"}, {"[URLS]", "http://127.0.0.1/"});
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.image.Lines(),
            (Lines{"[KEYS]", "MinuteInterval=5", "SvrStatus=", "[URLS]", "http://127.0.0.1/"}));
}

TEST(AllSetsTest, NothingToLoadFromIsAFailure) {
  CapturingLog log;
  CAllSets sets;
  EXPECT_FALSE(sets.ReInitialize());
  EXPECT_TRUE(log.HasError("CAllSets::ReInitialize() failed."));
  EXPECT_FALSE(sets.LoadIfNexessary());
  EXPECT_TRUE(log.HasError("CPhoneSettings::LoadIfNexessary() failed."));
  EXPECT_FALSE(sets.SaveSettings()) << "never loaded";
  EXPECT_TRUE(log.HasError("CAllSets::SaveSettings() failed."));
  CRamFileRO image;
  sets.SetSettingsImage(&image);
  EXPECT_FALSE(sets.ReInitialize()) << "no program folder";
}

TEST(AllSetsTest, SaveSettingsCarriesTheServerStateIntoTheFile) {
  Loaded l({"SvrStatus=Up", "MinuteInterval=5"}, {"[URLS]", "u"});
  ASSERT_TRUE(l.ok);
  for (const auto& [state, word] : std::vector<std::pair<int, std::string>>{
           {QOR_FAILS_DETECTED_SERVER_RESTARTING, "Restarting"},
           {QOR_FAILS_DETECTED_SERVER_REBOOTONG, "Rebooting"},
           {QOR_SERVER_UP, "Up"}}) {
    l.sets.m_iLastKnownServerState = state;
    ASSERT_TRUE(l.sets.SaveSettings());
    EXPECT_EQ(ReadSettings(l.dir),
              (Lines{"[KEYS]", "SvrStatus=" + word, "MinuteInterval=5", "[URLS]", "u"}));
    // What is saved loads as the same state.
    Loaded again({"SvrStatus=" + word});
    EXPECT_EQ(again.sets.m_iLastKnownServerState, state);
  }
}

TEST(AllSetsTest, SaveSettingsWritesNothingWhenNothingChanged) {
  Loaded l({"SvrStatus=up", "MinuteInterval=5"});
  ASSERT_TRUE(l.ok);
  // Someone edits the file meanwhile; a save with nothing new must not undo that.
  WriteSettings(l.dir, {"[KEYS]", "SvrStatus=up", "MinuteInterval=7"});
  ASSERT_TRUE(l.sets.SaveSettings());
  EXPECT_EQ(ReadSettings(l.dir), (Lines{"[KEYS]", "SvrStatus=up", "MinuteInterval=7"}));

  // A word that loads as the state is kept as it is, even when it is not the usual one.
  Loaded other({"SvrStatus=Down"});
  ASSERT_TRUE(other.sets.SaveSettings());
  EXPECT_EQ(ReadSettings(other.dir), (Lines{"[KEYS]", "SvrStatus=Down"}));
}

TEST(AllSetsTest, SaveSettingsWritesTheStateTheFileDidNotHave) {
  Loaded l({"MinuteInterval=5"});
  ASSERT_TRUE(l.ok);
  ASSERT_TRUE(l.sets.SaveSettings());
  EXPECT_EQ(ReadSettings(l.dir), (Lines{"[KEYS]", "MinuteInterval=5", "SvrStatus=Up"}));
}

}  // namespace

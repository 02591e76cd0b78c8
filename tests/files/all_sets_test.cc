#include "files/all_sets.h"

#include <climits>
#include <tuple>

#include "files/settings_file_writer.h"

namespace {

using snx::test::CapturingLog;
using snx::test::TempDir;
using Lines = std::vector<std::string>;

Lines ReadSettings(const TempDir& dir) {
  CRamFileRO image;
  EXPECT_TRUE(image.Initialize(dir.path(), CAllSets::kSettingsFileName));
  return image.Lines();
}

// The settings model over its own image, loaded from a file of "[KEYS]" and then `lines`.
struct Loaded {
  explicit Loaded(Lines lines) {
    lines.insert(lines.begin(), "[KEYS]");
    snx::test::LoadSettings(dir, lines, image, sets);
  }
  TempDir dir;
  CRamFileRO image;
  CAllSets sets;
};

TEST(AllSetsTest, NumbersTakeTheirDefaultsOnlyWhenMissingOrEmpty) {
  // The keys, then the minutes, restart seconds, restarts and sensitivity they load as.
  const std::tuple<Lines, int, int, int, int> cases[] = {
      {{}, 10, 300, 0, 5},
      {{"MinuteInterval=", "RstrSecs=", "Sensitivity="}, 10, 300, 0, 5},
      {{"MinuteInterval=0"}, 0, 15, 0, 5},
      {{"MinuteInterval=abc", "RstrSecs=x7", "RestartsB4Reboot= 3", "Sensitivity=-2"}, 0, 0, 3, -2},
      {{"MinuteInterval=2147483647"}, INT_MAX, INT_MAX, 0, 5},
  };
  for (const auto& [keys, minutes, restart_secs, restarts, sensitivity] : cases) {
    SCOPED_TRACE(testing::PrintToString(keys));
    Loaded l(keys);
    EXPECT_EQ(std::tuple(l.sets.m_iMinuteInterval, l.sets.m_iRstrSecs, l.sets.m_iRestartsB4Reboot,
                         l.sets.m_iSensitivity),
              std::tuple(minutes, restart_secs, restarts, sensitivity));
  }
}

TEST(AllSetsTest, YesNoIsTrueOnlyForOneAndTAndTextsAreKeptAsStored) {
  const std::pair<const char*, bool> watch[] = {{"WATCH=", true},     {"WATCH=0", false},
                                                {"WATCH=yes", false}, {"WATCH=T", true},
                                                {"WATCH= t", true},   {"WATCH=True", false}};
  for (const auto& [line, on] : watch) EXPECT_EQ(Loaded({line}).sets.m_bWATCH, on) << line;
  EXPECT_TRUE(Loaded({}).sets.m_bWATCH) << "watching is on when the key is missing";
  EXPECT_FALSE(Loaded({"LogEvents=10"}).sets.m_bLogEvents);
  Loaded l({"Password= p w", "UseIni=1", "LogEvents=1"});
  // UseIni is kept as stored, and its flag is always off after a load.
  EXPECT_EQ(std::tuple(l.sets.m_bLogEvents, l.sets.m_sPassword.View(), l.sets.m_sUseIni.View(),
                       l.sets.m_bUseIni),
            std::tuple(true, " p w", "1", false));
}

TEST(AllSetsTest, ServerStateWords) {
  const std::pair<const char*, int> cases[] = {
      {"SvrStatus=Up", 1000},   {"SvrStatus=rebooting", 1002},     {"SvrStatus= RESTARTING", 1001},
      {"SvrStatus=Down", 1000}, {"SvrStatus=Rebooting now", 1000}, {"Other=1", 1000}};
  for (const auto& [line, state] : cases) {
    EXPECT_EQ(Loaded({line}).sets.m_iLastKnownServerState, state) << line;
  }
}

TEST(AllSetsTest, PhoneAlertsNeedBothMessagesAndAnEnabledNumber) {
  const std::pair<Lines, bool> cases[] = {
      {{"PNum3=555", "PE3=1", "MsgDown=d", "MsgUp=u"}, true},
      {{"PNum3=555", "PE3=1", "MsgDown=d"}, false},
      {{"PNum3=555", "PE3=0", "MsgDown=d", "MsgUp=u"}, false},
      {{"PE2=1", "PNum3=555", "MsgDown=d", "MsgUp=u"}, false},
      {{"PNum6=555", "PE6=T", "MsgDown=d", "MsgUp=u"}, true},
  };
  for (const auto& [keys, ready] : cases) {
    EXPECT_EQ(Loaded(keys).sets.m_bPhoneAlertsReady, ready) << testing::PrintToString(keys);
  }
}

TEST(AllSetsTest, NothingToLoadFromIsAFailure) {
  CapturingLog log;
  CAllSets sets;
  EXPECT_FALSE(sets.ReInitialize());
  EXPECT_TRUE(log.HasError("CAllSets::ReInitialize() failed."));
  EXPECT_FALSE(sets.LoadIfNexessary());
  EXPECT_FALSE(sets.SaveSettings()) << "never loaded";
  CRamFileRO image;
  sets.SetSettingsImage(&image);
  EXPECT_FALSE(sets.ReInitialize()) << "no program folder";
}

TEST(AllSetsTest, SaveSettingsCarriesTheServerStateIntoTheFile) {
  Loaded l({"MinuteInterval=5", "[URLS]", "u"});
  // The load adds the missing key at the end of "[KEYS]"; the first save gives it its word.
  EXPECT_EQ(l.image.Lines(), (Lines{"[KEYS]", "MinuteInterval=5", "SvrStatus=", "[URLS]", "u"}));
  for (const auto& [state, word] : std::vector<std::pair<int, std::string>>{
           {QOR_SERVER_UP, "Up"},
           {QOR_FAILS_DETECTED_SERVER_RESTARTING, "Restarting"},
           {QOR_FAILS_DETECTED_SERVER_REBOOTONG, "Rebooting"},
           {QOR_SERVER_UP, "Up"}}) {
    l.sets.m_iLastKnownServerState = state;
    ASSERT_TRUE(l.sets.SaveSettings());
    EXPECT_EQ(ReadSettings(l.dir),
              (Lines{"[KEYS]", "MinuteInterval=5", "SvrStatus=" + word, "[URLS]", "u"}));
  }
}

TEST(AllSetsTest, AnAdministratorsChangeSurvivesTheServicesOwnSaveAndIsNoticed) {
  // "Down" loads as the state Up: a word that loads as the state is kept as it stands.
  Loaded l({"SvrStatus=Down", "EmailSubject=old", "[URLS]", "http://a/"});
  EXPECT_FALSE(l.sets.FileChangedSinceLoad());
  snx::test::ConfChange(l.dir.path(), [](CRamFileRO& f) {
    return f.SetKey("PulseUrl", "http://pulse/") && f.SetKey("EmailSubject", "new") &&
           f.AddLineToSection("[URLS]", "http://b/");
  });
  // A save with nothing new writes nothing: it must not undo the change.
  const std::string changed = l.dir.Read("AutoSet.caf");
  ASSERT_TRUE(l.sets.SaveSettings());
  EXPECT_EQ(l.dir.Read("AutoSet.caf"), changed);
  l.sets.m_iLastKnownServerState = QOR_FAILS_DETECTED_SERVER_RESTARTING;
  ASSERT_TRUE(l.sets.SaveSettings());
  EXPECT_EQ(ReadSettings(l.dir),
            (Lines{"[KEYS]", "SvrStatus=Restarting", "EmailSubject=new", "PulseUrl=http://pulse/",
                   "[URLS]", "http://a/", "http://b/"}));
  // Our save did not hide the change: it is still to be taken up, and then it is in force,
  // with the state in memory kept.
  EXPECT_TRUE(l.sets.FileChangedSinceLoad());
  std::string why;
  ASSERT_TRUE(l.sets.ReloadFromFile(why)) << why;
  EXPECT_EQ(std::tuple(l.sets.m_sEmailSubject.ToString(), l.sets.m_iLastKnownServerState.load()),
            std::tuple("new", QOR_FAILS_DETECTED_SERVER_RESTARTING));
  EXPECT_FALSE(l.sets.FileChangedSinceLoad());
  // The service's own saves are not changes to take up.
  l.sets.m_iLastKnownServerState = QOR_SERVER_UP;
  ASSERT_TRUE(l.sets.SaveSettings());
  EXPECT_FALSE(l.sets.FileChangedSinceLoad());
}

TEST(AllSetsTest, AFileThatDoesNotLoadIsRefusedAndNotWrittenOver) {
  Loaded l({"EmailSubject=good", "MinuteInterval=5"});
  const std::string broken = "[KEYS]\r\nEmailSubject=" + std::string(300, 'x') + "\r\n";
  l.dir.Write("AutoSet.caf", broken);
  ASSERT_TRUE(l.sets.FileChangedSinceLoad());
  CapturingLog log;
  std::string why;
  EXPECT_FALSE(l.sets.ReloadFromFile(why));
  EXPECT_FALSE(why.empty());
  EXPECT_TRUE(log.Errors().empty()) << "the caller writes the one line";
  l.sets.m_iLastKnownServerState = QOR_FAILS_DETECTED_SERVER_RESTARTING;
  EXPECT_FALSE(l.sets.SaveSettings());
  EXPECT_EQ(l.dir.Read("AutoSet.caf"), broken);
}

}  // namespace

// Settings the administrator changes while Go runs, and a settings file that cannot be saved
// (the install folder on a full disk): the state in memory decides the alerts and restarts.

#include <gmock/gmock.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "ops/ops_fixture.h"

namespace snx::test {
namespace {

using ::testing::HasSubstr;

constexpr const char* kSecondUrl = "http://site.test/second";

int Count(const std::vector<std::string>& lines, std::string_view text) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.find(text) != std::string::npos;
  }));
}

TEST_F(OpsTest, AChangeMadeWhileRunningIsTakenUpAtTheNextCycleAndSurvivesOurSaves) {
  Load(With({}));
  SetSite(200);
  SetSite(500, "/second");
  on_wait = [&](int cycle) {
    if (cycle == 1) {
      ConfChange(Folder(), [](CRamFileRO& f) {
        return f.AddLineToSection("[URLS]", kSecondUrl) && f.SetKey("EmailSubjectDn", "Now down") &&
               f.SetKey("UptimeSizeLimit", "250000");
      });
    }
    if (cycle >= 2) Stop();
  };
  StartAndGo();
  // The URL added after cycle 1 was tested in cycle 2, failed, and the new subject went out.
  EXPECT_EQ(Count(log_.Messages(), "settings reloaded"), 1);
  EXPECT_TRUE(log_.HasError(std::string("Failed URL: ") + kSecondUrl));
  EXPECT_EQ(MailsWithSubject("Now down"), 1);
  EXPECT_EQ(MailsWithSubject("Server down"), 0);
  EXPECT_EQ(Restarts(), 1);
  EXPECT_EQ(thread_.Items().UptimeLog().SizeLimit(), 250000);
  // Our saves of the server state kept the administrator's lines.
  CRamFileRO reread;
  ASSERT_TRUE(reread.Initialize(Folder(), CAllSets::kSettingsFileName));
  EXPECT_STREQ(reread.GetKey("EmailSubjectDn"), "Now down");
  EXPECT_STREQ(reread.GetKey("SvrStatus"), "Restarting");
  EXPECT_EQ(std::string(reread.FirstLineOfSection("[URLS]")), kLocalUrl);
  EXPECT_EQ(std::string(reread.NextLineOfSection()), kSecondUrl);
}

TEST_F(OpsTest, ABrokenSettingsFileKeepsTheLastGoodSettingsWithOneErrorLine) {
  Load(With({}));
  on_wait = [&](int cycle) {
    if (cycle == 1)
      dir_.Write("AutoSet.caf", "[KEYS]\r\nAdminId=" + std::string(300, 'x') + "\r\n");
    if (cycle == 2) SetSite(500);
    if (cycle >= 3) Stop();
  };
  StartAndGo();
  EXPECT_EQ(Count(log_.Errors(), "settings not reloaded"), 1);
  EXPECT_EQ(Count(log_.Messages(), "settings reloaded"), 0);
  // Watching went on with the last good settings: the failure of cycle 3 was reported.
  EXPECT_EQ(MailsWithSubject("Server down"), 1);
  EXPECT_EQ(Restarts(), 1);
  EXPECT_EQ(settings_.m_sAdminId.ToString(), "admin");
}

TEST_F(OpsTest, AChangedRestartProgramRunsFromTheNextCycleAndAnUntrustedOneIsRefusedOnce) {
  Load(With({}));
  const auto program = [&](const std::string& step, mode_t mode) {
    dir_.Write("Sentinex.ini", "Begin=Detection\nStart=" + step + "\nEnd=\n");
    ::chmod(dir_.File("Sentinex.ini").c_str(), mode);
  };
  program("first", 0600);
  on_wait = [&](int cycle) {
    if (cycle == 1) program("second-one", 0600);
    if (cycle == 2) program("third-program", 0666);  // anyone may change it: refused
    if (cycle == 4) ::chmod(dir_.File("Sentinex.ini").c_str(), 0600);  // mended
    if (cycle == 5) ::unlink(dir_.File("Sentinex.ini").c_str());
    if (cycle >= 7) Stop();
  };
  GoReady();
  settings_.m_bUseIni = true;  // the detection section runs in each cycle
  thread_.Go();
  const auto runs = [&](const std::string& line) {
    const auto lines = launcher_.CommandLines();
    return std::count(lines.begin(), lines.end(), line);
  };
  EXPECT_EQ(runs("first"), 1);
  EXPECT_EQ(runs("second-one"), 3);     // cycles 2 to 4: the untrusted file left it in force
  EXPECT_EQ(runs("third-program"), 3);  // cycles 5 to 7: a missing file leaves it in force
  EXPECT_EQ(Count(log_.Messages(), "restart program reloaded"), 2);
  EXPECT_EQ(Count(log_.Errors(), "restart program not reloaded"), 2);
  EXPECT_EQ(Count(log_.Errors(), "is writable by everyone"), 1);
  EXPECT_EQ(Count(log_.Errors(), "restart program not reloaded: there is no file"), 1);
}

// The install folder on a small tmpfs that is filled up once the settings are written.
class FullDiskTest : public OpsTest {
 protected:
  void SetUp() override {
    if (::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, "size=256k") != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs over the install folder (" << std::strerror(errno)
                   << "); not tested here";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
  }
  void Fill() {
    std::ofstream filler(dir_.File("filler"), std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
  }
  bool mounted_ = false;
};

TEST_F(FullDiskTest, AFailedSaveOfTheServerStateStillSendsDownAndUpAndRestarts) {
  Load(With({}));
  Fill();
  SetSite(500);
  on_wait = [&](int cycle) {
    if (cycle == 1) {
      // An administrator's edit that lands while the disk is full is taken up all the same,
      // without taking the stale state of the file.
      ::unlink(dir_.File("filler").c_str());
      ConfChange(Folder(), [](CRamFileRO& f) { return f.SetKey("EmailSubject", "Back up"); });
      Fill();
    }
    SetSite(200);
    if (cycle >= 3) Stop();
  };
  StartAndGo();
  EXPECT_TRUE(log_.HasError("CAllSets::SaveSettings() failed."));
  EXPECT_EQ(Count(log_.Messages(), "settings reloaded"), 1);
  EXPECT_EQ(MailsWithSubject("Server down"), 1);
  EXPECT_EQ(MailsWithSubject("Back up"), 1);
  EXPECT_EQ(PhoneCalls("Server down"), 1);
  EXPECT_EQ(PhoneCalls("Server up"), 1);
  EXPECT_EQ(Restarts(), 1);
  EXPECT_EQ(settings_.m_iLastKnownServerState, QOR_SERVER_UP);
}

}  // namespace
}  // namespace snx::test

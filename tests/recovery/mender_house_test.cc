// The engine's set-up and housekeeping, the reboot and the logon values.

#include <fstream>

#include "files/all_sets.h"
#include "mender_fixture.h"
#include "platform/key_store.h"
#include "platform/path_map.h"
#include "recovery/folder_names.h"

namespace snx::test {
namespace {

using platform::HKEY;

class HouseTest : public MenderTest {
 protected:
  HouseTest() { mender_.SetSettings(&settings_); }

  // A file under the C drive of the state root.
  std::string OnDrive(std::string_view drive, std::string_view relative) {
    return root_.path() + "/var/lib/snxsvc/drives/" + std::string(drive) + "/" +
           std::string(relative);
  }
  void Touch(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << "lnk";
  }

  CAllSets settings_;
};

TEST_F(HouseTest, InitializeMakesTheWatcherAndLoadsTheProgram) {
  WriteProgram("Begin=Detection\nEnd=\n");
  ASSERT_TRUE(mender_.Initialize(Folder(), &owner_));
  EXPECT_EQ(std::tuple(mender_.InstructionCount(), watcher_.folder, watcher_.creation_count),
            std::tuple(2, Folder(), 1));
  EXPECT_EQ(Value(CMender::kWinlogonKey, "AutoAdminLogon"), "0");

  // A watcher made again replaces the old one, which goes.
  ASSERT_TRUE(mender_.RecreateWatcher());
  // The creation count is the count of the watchers alive.
  EXPECT_EQ(std::tuple(watcher_.alive, watcher_.creation_count), std::tuple(1, 1));
  mender_.ReleaseComponents();
  EXPECT_EQ(watcher_.alive, 0);
  EXPECT_FALSE(mender_.AddWatcherCounter("\\\\A\\Process(b)\\Elapsed Time"));  // nothing dangles
}

TEST_F(HouseTest, InitializeFailures) {
  WriteProgram("Start=x\n");
  factory_.FailCreation(platform::CLSID_Watcher, platform::REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(mender_.Initialize(Folder(), &owner_));
  EXPECT_TRUE(log_.HasError("mender:: Creation failed for auto-watcher."));
  EXPECT_EQ(mender_.InstructionCount(), 0);  // the program is not read without a watcher
}

TEST_F(HouseTest, HeartbeatGoesToTheHeartbeatFolderWhenThereIsOne) {
  WriteProgram("Start=x\n");
  ASSERT_TRUE(mender_.Initialize(Folder(), &owner_));
  clock_.SetWall(platform::FakeClock::FromUtc(2026, 3, 9, 14, 5, 7));
  const std::string line = "03/09/26 14:05:07 System working.\r\n";
  ASSERT_TRUE(mender_.WriteHeartbeatFile());
  ASSERT_TRUE(mender_.WriteHeartbeatFile());
  EXPECT_EQ(dir_.Read("Beat.txt"), line + line);
  std::filesystem::create_directories(OnDrive("D", "Heartbeat"));
  ASSERT_TRUE(mender_.WriteHeartbeatFile());
  EXPECT_EQ(root_.Read("var/lib/snxsvc/drives/D/Heartbeat/Beat.txt"), line);
}

TEST_F(HouseTest, AutoRunNeedsTheServiceUnit) {
  const std::string unit = root_.File(snx::platform::kServiceUnitFile);
  EXPECT_FALSE(mender_.SetAutoRunStatus(true));  // not installed: nothing would bring it back
  EXPECT_TRUE(log_.HasError("Shortcut to Sentinex not found. Should be at:"));
  EXPECT_TRUE(log_.HasError(unit));
  EXPECT_EQ(Value(CMender::kAutoRunKey, "AutoRun"), "(none)");

  Touch(unit);  // what "snxsvc -Service" writes is enough; no file is made by hand
  EXPECT_TRUE(mender_.SetAutoRunStatus(true));
  EXPECT_EQ(Value(CMender::kAutoRunKey, "AutoRun"), "1");
  EXPECT_EQ(Value(CMender::kAutoRunKey, CMender::kLastEndValue), "Running");
}

// What a reboot leaves (the AutoRun mark, the server state) is checked with the operations
// thread's reboot decision.
TEST_F(HouseTest, RebootNeedsThePrivilege) {
  power_.SetPrivilege(false);
  EXPECT_FALSE(mender_.ReBoot());
  EXPECT_TRUE(log_.HasError("Cannot adjust process for re-boot priviledge."));
  EXPECT_TRUE(power_.Requests().empty());

  power_.SetPrivilege(true);
  EXPECT_TRUE(mender_.ReBoot());
  EXPECT_EQ(power_.Requests().size(), 1u);
}

TEST_F(HouseTest, WinlogonValues) {
  mender_.SetUserName("");  // an empty name is written and verified
  mender_.SetWinlogonValues();
  mender_.SetUserName("Administrator");
  mender_.SetWinlogonValues();
  EXPECT_TRUE(log_.Errors().empty());
  EXPECT_EQ(Value(CMender::kWinlogonKey, "DefaultUserName"), "Administrator");
  EXPECT_EQ(Value(CMender::kWinlogonKey, "DefaultPassword"), "");
  EXPECT_TRUE(mender_.VerifyWinlogonValue("DefaultUserName", "aDMINISTRATOR"));  // case ignored
  EXPECT_FALSE(mender_.VerifyWinlogonValue("DefaultUserName", "Admin"));         // too long to read
  keys_.FailWritesAfter(0);
  mender_.SetUserName("operator");
  mender_.SetWinlogonValues();
  EXPECT_TRUE(log_.HasError("Error: Cannot set DefaultUserName value"));
  EXPECT_TRUE(log_.HasError("Error: Cannot verify DefaultUserName value"));
}

TEST_F(HouseTest, CompanionRegistration) {
  mender_.LoadProgram(Folder());  // sets the install folder (the load itself fails)
  dir_.Write("QorPerf.DLL", "elf");
  // Registration writes the class keys, as the real Regsvr32 does.
  launcher_.OnRun([&](const platform::LaunchRequest& r) {
    if (r.command_line == "Regsvr32 /s QorPerf.DLL") {
      for (const char* key : {"QorPerf.Watcher", "QorPerf.Watcher.1"}) {
        HKEY k = nullptr;
        keys_.CreateKey(platform::HKEY_CLASSES_ROOT, key, k);
        keys_.CloseKey(k);
      }
    }
  });
  EXPECT_TRUE(mender_.RegisterAtlObject("QorPerf.DLL", "QorPerf.Watcher"));
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"Regsvr32 /s /u QorPerf.DLL", "Regsvr32 /s QorPerf.DLL"}));
  EXPECT_FALSE(mender_.RegisterAtlObject("QorPulse", "QorPulse.Pulse"));
  EXPECT_TRUE(log_.HasError("Cannot find file: " + Folder() + "QorPulse.dll"));

  launcher_.ClearCalls();
  dir_.Write("QorPulse.dll", "elf");
  Touch(OnDrive("C", "QorDevel.txt"));
  EXPECT_TRUE(mender_.RegisterCompanions());
  EXPECT_EQ(Lines().size(), 0u);  // the developer marker: nothing is touched
}

}  // namespace
}  // namespace snx::test

// The reboot storm guard over fakes: reboots beyond MaxRebootsPerDay within 24 hours are
// withheld, the people on the alert lists hear of it once, restarts go on, and the cap opens
// again when the oldest reboot leaves the window. Each "boot" is a new operations thread over
// the same state folder, so the reboot record is read back as after a real reboot.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "ops/ops_fixture.h"
#include "platform/file_system.h"

namespace snx::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// The recording power, noting how many reboots the record held when each request came.
class CheckingPower : public platform::FakePower {
 public:
  explicit CheckingPower(std::string path) : path_(std::move(path)) {}
  bool ForceReboot(std::string_view reason) override {
    std::vector<std::int64_t> seconds;
    std::ifstream in(path_);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CRebootRecord::Parse(text, seconds, nullptr);
    recorded_at_request.push_back(seconds.size());
    return FakePower::ForceReboot(reason);
  }
  std::vector<std::size_t> recorded_at_request;

 private:
  std::string path_;
};

class RebootGuardTest : public OpsTest {
 protected:
  // With the shared start-up shortcut in place a reboot sets the AutoRun mark, so the next
  // boot starts as after our own reboot (server state "Rebooting").
  RebootGuardTest() {
    const std::string desktop =
        root_.path() + "/var/lib/snxsvc/drives/C/Documents and Settings/All Users/Desktop";
    std::filesystem::create_directories(desktop);
    root_.Write(desktop.substr(root_.path().size() + 1) + "/Sentinex.lnk", "link");
  }
  std::string RecordPath() const { return root_.path() + "/var/lib/snxsvc/reboot-record"; }

  // The service after a (re)boot: a new thread reads the AutoRun mark and the reboot record,
  // then runs Go until a reboot ends it or `cycles` cycles have run.
  void Boot(int cycles) {
    if (current_) {  // each thread has a voice alert object of its own
      down_calls_ += PhoneCalls("Server down");
      up_calls_ += PhoneCalls("Server up");
    }
    current_.reset();
    current_ = std::make_unique<COpsMngrThread>(owner_, checked_facilities_);
    cycles_ = 0;
    on_wait = [this, cycles](int cycle) {
      if (on_cycle) on_cycle(cycle);
      if (cycle >= cycles) {
        owner_.m_bGo = false;
        current_->SetCommand(SNX_STOP);
      }
    };
    ASSERT_TRUE(current_->Initialize());
    owner_.m_bGo = true;
    current_->SetCommand(SNX_GO);
    current_->Go();
  }
  // The recorded reboot times, oldest first.
  std::vector<std::int64_t> Recorded() {
    std::vector<std::int64_t> seconds;
    EXPECT_TRUE(CRebootRecord::Parse(root_.Read("var/lib/snxsvc/reboot-record"), seconds, nullptr));
    return seconds;
  }
  // The calls of every boot so far.
  int DownCalls() const { return down_calls_ + PhoneCalls("Server down"); }
  int UpCalls() const { return up_calls_ + PhoneCalls("Server up"); }
  int WithheldLines() const {
    int n = 0;
    for (const auto& e : log_.Errors()) n += e.rfind("Reboot withheld: ", 0) == 0;
    return n;
  }
  void WriteRecord(std::string_view text) {
    std::filesystem::create_directories(root_.path() + "/var/lib/snxsvc");
    root_.Write("var/lib/snxsvc/reboot-record", text);
  }
  std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(clock_.WallNow().time_since_epoch())
        .count();
  }

  std::function<void(int cycle)> on_cycle;
  CheckingPower checking_power_{RecordPath()};
  COpsFacilities checked_facilities_{clock_, launcher_, checking_power_, keys_, factory_, mail_};
  std::unique_ptr<COpsMngrThread> current_;
  int down_calls_ = 0;
  int up_calls_ = 0;
};

TEST_F(RebootGuardTest, ThirdRebootOfADayIsWithheldUntilTheFirstLeavesTheWindow) {
  Load(With({"RestartsB4Reboot=1", "MaxRebootsPerDay=2"}));
  SetSite(500);  // never recovers
  Boot(10);      // first failure: down alerts and a restart; the second failure reboots
  Boot(10);      // after our reboot: a restart, then the second reboot
  ASSERT_EQ(checking_power_.Requests().size(), 2u);
  const std::int64_t first_reboot = Recorded().front();
  EXPECT_EQ(MailsWithSubject("Server down"), 1);

  // The third boot: each reboot decision is withheld until a day after the first reboot.
  std::vector<std::string> waiting_objects;
  on_cycle = [&](int) { waiting_objects.push_back(owner_.ReadActionObject()); };
  const int restarts_before = Restarts();
  Boot(400);
  ASSERT_EQ(checking_power_.Requests().size(), 3u);
  const std::int64_t third_reboot = Recorded().back();
  EXPECT_GE(third_reboot - first_reboot, 24 * 3600);
  EXPECT_LT(third_reboot - first_reboot, 24 * 3600 + 15 * 60);  // the next cycle after that

  // One set of down alerts for the whole episode, one line per withheld decision.
  EXPECT_EQ(MailsWithSubject("Server down"), 2);
  EXPECT_EQ(DownCalls(), 2);
  EXPECT_EQ(MailsWithSubject("Server up"), 0);
  const int withheld = WithheldLines();
  EXPECT_GT(withheld, 100);  // about a day of 10-minute cycles
  EXPECT_EQ(current_->RebootsWithheldTotal(), static_cast<std::uint64_t>(withheld));
  EXPECT_THAT(log_.Errors(), ::testing::Contains("Reboot withheld: 2 automatic reboot(s) in the "
                                                 "last 24 hours, MaxRebootsPerDay is 2."));
  // The applications were restarted in every withheld cycle and the waits say why.
  EXPECT_EQ(Restarts() - restarts_before, withheld + 1);
  ASSERT_GE(waiting_objects.size(), 2u);
  EXPECT_EQ(waiting_objects[0], ".");
  EXPECT_THAT(waiting_objects[1], StartsWith("Reboot withheld: 2 automatic reboot(s)"));
  EXPECT_EQ(ItemState(ITEM_RESTART, "Restart"), -1);  // the fixture's own thread never ran
  EXPECT_EQ(current_->Items().GetItemRef(ITEM_RESTART, "Restart")->m_iState, ITEM_STATE_DOWN);
  // Each reboot was in the record before the power facility was asked; the record keeps the
  // last 24 hours only.
  EXPECT_EQ(checking_power_.recorded_at_request, (std::vector<std::size_t>{1, 2, 2}));
  EXPECT_EQ(Recorded().size(), 2u);
}

TEST_F(RebootGuardTest, AGoodCycleEndsTheEpisodeWithOneSetOfUpAlerts) {
  Load(With({"RestartsB4Reboot=1", "MaxRebootsPerDay=1"}));
  SetSite(500);
  Boot(10);  // one reboot: the cap is reached
  ASSERT_EQ(checking_power_.Requests().size(), 1u);
  // After the boot: restart, withheld, withheld, good, good, first failure, withheld.
  const bool good[] = {false, false, false, true, true, false, false};
  on_cycle = [&](int cycle) {
    if (cycle < 7) SetSite(good[cycle] ? 200 : 500);
  };
  Boot(7);
  EXPECT_EQ(checking_power_.Requests().size(), 1u);
  EXPECT_EQ(WithheldLines(), 3);
  // Down: the first boot's first failure, the first withheld reboot, the failure after the
  // good cycles (whose withheld reboot then adds none). Up: the first good cycle only.
  EXPECT_EQ(MailsWithSubject("Server down"), 3);
  EXPECT_EQ(DownCalls(), 3);
  EXPECT_EQ(MailsWithSubject("Server up"), 1);
  EXPECT_EQ(UpCalls(), 1);
  EXPECT_EQ(current_->RebootGuardSummary(), "1 1 3");
}

// What the guard does with the reboots already recorded, by cap.
struct CapCase {
  const char* name;
  const char* cap;
  int recent;  // reboots recorded within the last hours
  bool reboots;
};

class RebootCap : public RebootGuardTest, public ::testing::WithParamInterface<CapCase> {};

TEST_P(RebootCap, RebootsOrWithholdsByTheRecordedCount) {
  const CapCase& c = GetParam();
  std::vector<std::int64_t> times;
  for (int i = 0; i < c.recent; ++i) times.push_back(Now() - 60 * (i + 1));
  std::sort(times.begin(), times.end());
  WriteRecord(CRebootRecord::Format(times));
  Load(With({"RestartsB4Reboot=1", std::string("MaxRebootsPerDay=") + c.cap}));
  SetSite(500);
  Boot(3);
  EXPECT_EQ(checking_power_.Requests().size(), c.reboots ? 1u : 0u);
  EXPECT_EQ(WithheldLines(), c.reboots ? 0 : 2);
  EXPECT_EQ(Recorded().size(), static_cast<std::size_t>(c.recent + (c.reboots ? 1 : 0)));
}

const CapCase kCapCases[] = {
    {"NoCapRebootsWhateverTheRecordHolds", "0", 50, true},
    {"NegativeCapIsNoCap", "-3", 5, true},
    {"BelowTheCapReboots", "3", 2, true},
    {"AtTheCapWithholds", "3", 3, false},
};

INSTANTIATE_TEST_SUITE_P(Caps, RebootCap, ::testing::ValuesIn(kCapCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A record that is missing or cannot be read counts as no reboots, with one warning line.
struct RecordCase {
  const char* name;
  std::string contents;  // "" with `missing`
  bool missing;
  const char* warning;
};

class BadRecord : public RebootGuardTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(BadRecord, CountsAsNoRebootsWithOneWarning) {
  const RecordCase& c = GetParam();
  if (!c.missing) WriteRecord(c.contents);
  Load(With({"RestartsB4Reboot=1", "MaxRebootsPerDay=1"}));
  SetSite(500);
  Boot(3);
  int warnings = 0;
  for (const auto& m : log_.Messages()) warnings += m.find("reboot record") != std::string::npos;
  EXPECT_EQ(warnings, 1);
  EXPECT_THAT(log_.Messages(), ::testing::Contains(HasSubstr(c.warning)));
  // The reboot went ahead and the record is whole again.
  EXPECT_EQ(checking_power_.Requests().size(), 1u);
  EXPECT_EQ(Recorded().size(), 1u);
}

const RecordCase kRecordCases[] = {
    {"Missing", "", true, "Warning: no reboot record"},
    {"NotNumbers", "# header\n1796000000\nyesterday\n", false, "line 3 is not a number"},
    {"NegativeTime", "-5\n", false, "line 1 is not a number"},
    {"TooLong", std::string(CRebootRecord::kMaxFileBytes + 1, '#'), false, "is larger than"},
};

INSTANTIATE_TEST_SUITE_P(Records, BadRecord, ::testing::ValuesIn(kRecordCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RebootRecordText, ReadsItsOwnTextAndSkipsCommentsAndCarriageReturns) {
  std::vector<std::int64_t> seconds;
  ASSERT_TRUE(CRebootRecord::Parse(CRebootRecord::Format({5, 1800000000}), seconds, nullptr));
  EXPECT_EQ(seconds, (std::vector<std::int64_t>{5, 1800000000}));
  ASSERT_TRUE(CRebootRecord::Parse("# x\r\n\r\n30\r\n20", seconds, nullptr));
  EXPECT_EQ(seconds, (std::vector<std::int64_t>{20, 30}));  // sorted
  std::string why;
  for (const char* bad : {"1e9\n", "+5\n", " 5\n", "99999999999999999999\n"}) {
    EXPECT_FALSE(CRebootRecord::Parse(bad, seconds, &why)) << bad;
    EXPECT_TRUE(seconds.empty());
  }
}

TEST(RebootRecordWindow, TimesLeaveTheWindowAfter24HoursAndFarFutureOnesDoNotCount) {
  TempDir dir;
  platform::FakeClock clock;
  CRebootRecord record(clock, dir.File("record"));
  ASSERT_TRUE(record.Add());
  clock.Advance(std::chrono::hours(23));
  ASSERT_TRUE(record.Add());
  EXPECT_EQ(record.CountInWindow(), 2);
  clock.Advance(std::chrono::hours(1));  // the first is exactly 24 hours old
  EXPECT_EQ(record.CountInWindow(), 1);
  // A clock set back by an hour still counts the reboot it recorded; by two days it does not.
  clock.SetWall(clock.WallNow() - std::chrono::hours(1));
  EXPECT_EQ(record.CountInWindow(), 1);
  // Read afresh, the file still holds the first reboot (only a change rewrites it): 23 hours
  // old by the clock that was set back.
  CRebootRecord again(clock, dir.File("record"));
  EXPECT_EQ(again.Load(), CRebootRecord::LoadResult::kOk);
  EXPECT_EQ(again.CountInWindow(), 2);
  clock.SetWall(clock.WallNow() - std::chrono::hours(48));
  EXPECT_EQ(again.CountInWindow(), 0);
}

TEST(RebootRecordFile, IsNeverWrittenThroughASymbolicLink) {
  TempDir dir;
  platform::FakeClock clock;
  dir.Write("target", "keep\n");
  std::filesystem::create_symlink(dir.File("target"), dir.File("record"));
  CRebootRecord record(clock, dir.File("record"));
  ASSERT_TRUE(record.Add());
  EXPECT_EQ(dir.Read("target"), "keep\n");
  EXPECT_FALSE(std::filesystem::is_symlink(dir.File("record")));
  EXPECT_EQ(
      (std::filesystem::status(dir.File("record")).permissions() & std::filesystem::perms::all),
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
}  // namespace snx::test

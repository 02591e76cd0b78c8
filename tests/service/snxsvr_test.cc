// The command object over the operations thread's fakes: creation with its log and banner,
// the command codes, the auto-Go at creation, and a teardown that ends the thread. The thread
// owner with a real operations thread: start-up, a GO command carried by the flags and
// "EventCommand", and a teardown while Go waits between cycles, which must not wait for the next
// cycle. Time is real here (the thread waits for real); the fakes stand for everything else.

#include "service/snxsvr.h"

#include <gmock/gmock.h>

#include "ops/ops_codes.h"
#include "ops/ops_fixture.h"
#include "platform/clock.h"
#include "platform/fake/capturing_debug_sink.h"
#include "service/thread_owner.h"

namespace snx::test {
namespace {

using ::testing::HasSubstr;
namespace sp = snx::platform;

class SnxsvrTest : public RealTimeOpsTest {
 protected:
  // The object makes the install folder the current one.
  ~SnxsvrTest() override { std::filesystem::current_path(cwd_); }
  std::unique_ptr<CSNXSVR> Create() {
    Load(With({"MinuteInterval=10"}));
    auto object = std::make_unique<CSNXSVR>(RealTime(), dir_.path());
    object->FinalConstruct();
    return object;
  }
  std::int32_t Command(CSNXSVR& object, std::int32_t code) {
    const sp::VARIANT command = sp::Variant::Int(code);
    std::int32_t result = 77;
    EXPECT_EQ(object.OpsCommand(&command, &result), sp::S_OK);
    return result;
  }

  std::filesystem::path cwd_ = std::filesystem::current_path();
  sp::CapturingDebugSink debug_;
  sp::ScopedInstall<sp::DebugSink> install_debug_{debug_};
};

TEST_F(SnxsvrTest, CommandCodesAsTheControlProgramSendsThem) {
  auto object = Create();
  CThreadOwner* owner = object->ThreadOwner();
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(Command(*object, SNX_GET_OPS_STATE), OPS_READY);
  EXPECT_EQ(Command(*object, SNX_IS_GO_RUNNING), 0);

  // A second initialize makes nothing new.
  EXPECT_EQ(Command(*object, SNX_INITIALIZE), -1);
  EXPECT_EQ(object->ThreadOwner(), owner);

  // Nothing published yet: an empty text; an unknown code leaves the result as it was.
  for (const std::int32_t code : {SNX_GET_CURRENT_ACTION, 5}) {
    sp::VARIANT text = sp::Variant::Int(5);
    object->GetStringResult(&code, &text);
    EXPECT_EQ(text, code == 5 ? sp::Variant::Int(5) : sp::Variant::Text("")) << code;
  }

  for (std::int32_t unknown : {1002, 1006, 1007, 998, 1012}) {
    log_.Clear();
    EXPECT_EQ(Command(*object, unknown), 0) << unknown;
    EXPECT_TRUE(log_.HasError("CSNXSVR::OpsCommand Unknown command received.")) << unknown;
  }

  // Stop while stopped: yes, and nothing handed over.
  owner->m_iOpsState = OPS_STOPPED;
  EXPECT_EQ(Command(*object, SNX_STOP), -1);
  EXPECT_EQ(owner->OpsThread()->Command(), 0);
  EXPECT_TRUE(log_.HasEvent("CSNXSVR::OpsCommand SNX_STOP command received."));
  // Go while Go runs: yes, the flags left alone.
  owner->m_iOpsState = OPS_GO_IDLE;
  owner->m_bTest = true;
  EXPECT_EQ(Command(*object, SNX_GO), -1);
  EXPECT_TRUE(owner->m_bTest);
  EXPECT_EQ(owner->OpsThread()->Command(), 0);
  EXPECT_TRUE(log_.HasEvent("CSNXSVR::OpsCommand SNX_GO command received."));

  // Test from idle: the flags, the pending command, and the thread wakes (and does nothing).
  owner->m_iOpsState = OPS_READY;
  EXPECT_EQ(Command(*object, SNX_TEST), -1);
  EXPECT_TRUE(owner->m_bTest);
  EXPECT_FALSE(owner->m_bGo);
  EXPECT_EQ(owner->OpsThread()->Command(), SNX_TEST);
  // The phone answers are asked afresh, each in its own place.
  ASSERT_TRUE(voice_);
  const std::int32_t answers[4] = {-1, 0, 0, -1};
  std::copy(std::begin(answers), std::end(answers), voice_->status);
  for (std::int32_t q = SNX_PHONE_QUERY_1; q <= SNX_PHONE_QUERY_4; ++q) {
    EXPECT_EQ(Command(*object, q), answers[q - SNX_PHONE_QUERY_1]) << q;
  }
  voice_->status[1] = -1;
  EXPECT_EQ(Command(*object, SNX_PHONE_QUERY_2), -1);
  EXPECT_TRUE(debug_.Contains("CSNXSVR::OpsCommand SNX_INITIALIZE command received."));
}

TEST_F(SnxsvrTest, GoThenStopThenTeardownWhileGoWaits) {
  auto object = Create();
  EXPECT_EQ(Command(*object, SNX_GO), -1);
  CThreadOwner* owner = object->ThreadOwner();
  EXPECT_TRUE(Eventually([&] { return owner->m_bGoLoopRunning.load(); }));
  EXPECT_EQ(Command(*object, SNX_IS_GO_RUNNING), -1);
  EXPECT_EQ(Command(*object, SNX_STOP), -1);
  EXPECT_EQ(owner->m_iOpsState, OPS_STOPPING);
  EXPECT_FALSE(owner->m_bGo);
  EXPECT_EQ(Command(*object, SNX_GO), -1);  // Go again before the loop noticed the stop
  const auto start = std::chrono::steady_clock::now();
  object.reset();  // the teardown: the thread ends within its 2-second slices
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(
      log_.HasEvent("SNXSvc functions terminated.********************************************"));
  EXPECT_FALSE(log_.HasError("SNXSVC CThreadOwner::KillAllThreads() failed."));
}

// The Go loop ended by itself (a reboot decision, a failed start): a later Stop finds no loop
// to take it, and the state must not stay at OPS_STOPPING.
TEST_F(SnxsvrTest, StopAfterTheLoopEndedByItselfLeavesItStopped) {
  auto object = Create();
  CThreadOwner* owner = object->ThreadOwner();
  for (const std::int32_t ended : {OPS_FAILURES_SEEN, OPS_READY}) {
    owner->m_iOpsState = ended;
    EXPECT_EQ(Command(*object, SNX_STOP), -1);
    EXPECT_TRUE(Eventually([&] { return Command(*object, SNX_GET_OPS_STATE) == OPS_STOPPED; }))
        << ended;
  }
}

TEST_F(SnxsvrTest, WithoutALogItMakesTheServiceLogWithTheBannerAndEndsIt) {
  // LogEvents decides the trace lines (a class name and "::"); the other events stay.
  for (const bool trace : {true, false}) {
    SCOPED_TRACE(trace);
    std::filesystem::remove(dir_.File("SNXSVC.log"));
    Load(With({trace ? "LogEvents=1" : "LogEvents=0"}));
    CLogWriter* previous = g_pLogFile;
    g_pLogFile = nullptr;
    {
      CSNXSVR object(RealTime(), dir_.path());
      object.FinalConstruct();
      EXPECT_NE(g_pLogFile, nullptr);
    }
    EXPECT_EQ(g_pLogFile, nullptr);
    g_pLogFile = previous;
    const std::string log = dir_.Read("SNXSVC.log");
    EXPECT_THAT(log, HasSubstr(" Message: /////////// SNXSVR Started ///////////\r\r\n"));
    EXPECT_THAT(log, HasSubstr(" Message: //  SNXSVC server watchdog"));
    EXPECT_EQ(log.find("CSNXSVR::Initialize() 2") != std::string::npos, trace);
    EXPECT_EQ(log.find("COpsMngrThread::LowLevelInit() 0.") != std::string::npos, trace);
    EXPECT_THAT(log, HasSubstr("SNXSvc functions terminated."));
    EXPECT_EQ(std::filesystem::current_path().string() + "/", dir_.path() + "/");
  }
}

using ThreadOwnerTest = RealTimeOpsTest;

TEST_F(ThreadOwnerTest, GoRunsUntilTeardownWhichEndsDuringTheWaitBetweenCycles) {
  Load(With({"MinuteInterval=10"}));
  clock_.on_sleep = nullptr;
  auto owner = std::make_unique<CThreadOwner>(RealTime());
  owner->SetSettings(&settings_);
  owner->SetProgramDirectory(Folder());
  ASSERT_TRUE(owner->StartThreads());

  // The GO command as the command object hands it over.
  owner->m_bTest = false;
  owner->m_bGo = true;
  owner->SetPendingCommand(SNX_GO);
  owner->FireCommandEvent();
  // The good cycle writes the heartbeat just before its wait.
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dir_.File("Beat.txt")); }));
  ASSERT_TRUE(
      Eventually([&] { return owner->ReadAction() == "Go MODE: waiting for next test :"; }));
  EXPECT_EQ(owner->m_iOpsState, OPS_GO_IDLE);

  // Teardown in the middle of the 10-minute wait: the thread sees the kill request.
  EXPECT_TRUE(owner->KillAllThreads());
  EXPECT_TRUE(owner->m_bThreadEnded);
  EXPECT_FALSE(owner->m_bThreadsRunning);
  EXPECT_EQ(owner->m_iOpsState, OPS_STOPPED);
  EXPECT_EQ(owner->ReadAction(), "Exiting GO MODE: :");
  owner.reset();
  EXPECT_TRUE(log_.HasEvent("COpsMngrThread::ExitInstance() 1."));
  EXPECT_FALSE(log_.HasError("SNXSVC CThreadOwner::KillAllThreads() failed."));
}

TEST_F(ThreadOwnerTest, AThreadThatNeverReportsItsStartUpLeavesStateReady) {
  // Without the watcher component the restart engine cannot initialize.
  platform::FakeComponentFactory bare(&keys_);
  Load(With({}));
  platform::FakeClock fast;  // the owner's 75 polls cost no real time
  COpsFacilities f{fast, launcher_, power_, keys_, bare, mail_};
  {
    CThreadOwner owner(f);
    owner.SetSettings(&settings_);
    owner.SetProgramDirectory(Folder());
    EXPECT_FALSE(owner.StartThreads());
    EXPECT_EQ(owner.m_iOpsState, OPS_READY);
    EXPECT_TRUE(owner.m_bThreadsRunning);
  }  // the destructor ends and joins the thread
  EXPECT_TRUE(log_.HasEvent("SNXSVC CThreadOwner::KillAllThreads() called."));
}

TEST_F(ThreadOwnerTest, AnOwnerNeverStartedDoesNotKill) {
  { CThreadOwner owner(facilities_); }
  EXPECT_TRUE(log_.HasEvent("SNXSVC CThreadOwner::Destructor."));
  EXPECT_FALSE(log_.HasEvent("SNXSVC CThreadOwner::KillAllThreads() called."));
}

}  // namespace
}  // namespace snx::test

// Loading the restart program (line format, keywords, engine settings, "Detect" set-up, the
// files that are refused, the check of what the engine would skip) and running its sections
// over the fake clock and the fake launcher.

#include <gmock/gmock.h>
#include <unistd.h>

#include "mender_fixture.h"
#include "recovery/restart_program_check.h"

namespace snx::test {
namespace {

using namespace std::chrono_literals;
using platform::LaunchOutcome;
using platform::LaunchResult;
using platform::LaunchWindow;

TEST_F(MenderTest, RestarterStepsStartWhatTheyShould) {
  dir_.Write("done.sig", "x");
  ASSERT_TRUE(
      Load("Start=/bin/outside ## outside any section: never run\n"
           "Begin=RESTARTER\n"
           "Stop=InternetExplorer\n"
           "Stop=internetexplorer\n"
           "Stop=server.exe\n"
           "Start=C:/Tools/go.exe\n"
           "Start=http://localhost/warm\n"
           "StartWithInternetExplorer=not a url\n"
           "StartAndComplete=C:\\Tools\\iisreset.exe /restart\n"
           "StartAndComplete=/usr/local/bin/warm-up\n"
           "DeleteSignalFile=" +
           dir_.File("done.sig") + "\nDeleteSignalFile=/no/such\n" +
           "End=\n"
           "Start=/bin/after\n"));
  EXPECT_TRUE(mender_.RunRestarterOperations());
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{
                "KILL /f  IExplore.exe",
                "KILL /f  IExplore.exe",
                "KILL /f  server.exe",
                "C:\\\\Tools\\\\go.exe",
                "\\\\Program Files\\\\Internet Explorer\\\\IExplore.exe -e http://localhost/warm",
                "C:\\\\Tools\\\\iisreset.exe \\\\restart",
                "\\\\usr\\\\local\\\\bin\\\\warm-up",
            }));
  // Kills and the reset run hidden and are waited for (never longer than the max wait); plain
  // starts are not waited for; StartAndComplete waits for a window of its own.
  std::vector<std::string> how;
  for (const auto& c : launcher_.Calls()) {
    how.push_back(std::string(c.window == LaunchWindow::kHidden ? "hidden" : "normal") +
                  (c.wait && c.max_wait == 300s ? " waited" : ""));
  }
  EXPECT_EQ(how, (std::vector<std::string>{"hidden waited", "hidden waited", "hidden waited",
                                           "normal", "normal", "hidden waited", "normal waited"}));
  EXPECT_TRUE(mender_.IISWasReset());
  EXPECT_NE(::access(dir_.File("done.sig").c_str(), F_OK), 0);
  EXPECT_TRUE(log_.Errors().empty());  // a missing signal file is no failure
}

TEST_F(MenderTest, SectionsThatAreMissingOrEmpty) {
  ASSERT_TRUE(Load("Begin=RESTARTER\nStart=/bin/x\nEnd=\n"));
  EXPECT_TRUE(mender_.RunDetectOperations());  // no detection section: walked, passes
  EXPECT_TRUE(Lines().empty());
  CMender empty(clock_, launcher_, power_, keys_, factory_);
  EXPECT_FALSE(empty.RunDetectOperations());  // no program at all
}

TEST_F(MenderTest, WaitSleepsInSlicesBoundedByMaxWait) {
  struct Case {
    const char* program;
    std::chrono::milliseconds slept;
  };
  const Case cases[] = {
      {"Wait=600\n", 302s},  // capped at 300 s: 151 slices of 2 s
      {"Wait=10\n", 12s},    // 6 slices
      {"Wait=-5\n", 0s},     // a negative wait is no wait
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    CMender m(clock_, launcher_, power_, keys_, factory_);
    m.SetOwner(&owner_);
    WriteProgram(std::string("Begin=Detection\n") + c.program + "End=\n");
    ASSERT_TRUE(m.LoadProgram(Folder()));
    const auto before = clock_.total_slept();
    EXPECT_TRUE(m.RunDetectOperations());
    EXPECT_EQ(clock_.total_slept() - before, c.slept);
  }
}

TEST_F(MenderTest, StopOrKillEndsTheSleepAtTheNextSlice) {
  for (bool by_kill : {false, true}) {
    SCOPED_TRACE(by_kill ? "kill request" : "STOP");
    owner_.pending = 1000;
    owner_.kill = false;
    int slices = 0;
    clock_.on_sleep = [&] {
      if (++slices != 3) return;
      if (by_kill) {
        owner_.kill = true;
      } else {
        owner_.pending = 1003;
      }
    };
    const auto before = clock_.total_slept();
    mender_.SleepWatchingStop(600000);
    EXPECT_EQ(clock_.total_slept() - before, 6s);
  }
}

TEST_F(MenderTest, WaitForFile) {
  const std::string signal = dir_.File("ready.sig");
  ASSERT_TRUE(Load("Begin=Detection\nWaitForFile=" + signal + "\nEnd=\n"));

  // The file appears during the wait.
  clock_.on_sleep = [&] {
    if (clock_.total_slept() >= 20s) dir_.Write("ready.sig", "x");
  };
  EXPECT_TRUE(mender_.RunDetectOperations());

  // It never appears: fails once max wait has passed.
  ::unlink(signal.c_str());
  clock_.on_sleep = nullptr;
  const auto before = clock_.total_slept();
  EXPECT_FALSE(mender_.RunDetectOperations());
  EXPECT_GE(clock_.total_slept() - before, 300s);
  EXPECT_LT(clock_.total_slept() - before, 310s);
  EXPECT_TRUE(log_.HasError("'WaitForFile' FAILS for " + signal));

  // The Go flag down: fails at once, without a wait.
  go_ = false;
  const auto at = clock_.total_slept();
  EXPECT_FALSE(mender_.RunDetectOperations());
  EXPECT_EQ(clock_.total_slept(), at);
}

TEST_F(MenderTest, DetectSeesTheFirstLineChange) {
  ASSERT_EQ(::mkdir(dir_.File("watched").c_str(), 0700), 0);
  dir_.Write("watched/app.log", "line one\nmore\n");
  ASSERT_TRUE(Load("Begin=Detection\nDetect=" + dir_.File("watched/app.log") + "\nEnd=\n"));

  EXPECT_TRUE(mender_.RunDetectOperations());   // no copy yet: a change
  EXPECT_FALSE(mender_.RunDetectOperations());  // the same first line
  EXPECT_TRUE(log_.HasError("Activity Detect is NEGATIVE for " + dir_.File("watched/app.log")));
  dir_.Write("watched/app.log", "LINE ONE\n");
  EXPECT_FALSE(mender_.RunDetectOperations());  // only the case changed: the same line
  dir_.Write("watched/app.log", "line two\n");
  EXPECT_TRUE(mender_.RunDetectOperations());
  EXPECT_FALSE(mender_.RunDetectOperations());
  EXPECT_EQ(dir_.Read("app.log"), "line two\r\n");  // the copy in the install folder

  dir_.Write("watched/app.log", "\nsecond line\n");  // an empty first line counts as activity
  EXPECT_TRUE(mender_.RunDetectOperations());
  ::unlink(dir_.File("watched/app.log").c_str());  // a missing file does not
  EXPECT_FALSE(mender_.RunDetectOperations());
}

TEST_F(MenderTest, ChildWaitsAreBoundedAndEndOnStop) {
  ASSERT_TRUE(
      Load("MaxWait=30\nBegin=RESTARTER\nStartAndComplete=/opt/hangs\nStop=server\nEnd=\n"));
  LaunchResult timed_out;
  timed_out.outcome = LaunchOutcome::kTimedOut;
  launcher_.Script("\\\\opt\\\\hangs", timed_out, 1);
  bool stop_seen = false;
  launcher_.OnRun([&](const platform::LaunchRequest& r) {
    EXPECT_EQ(r.max_wait, 30s);
    ASSERT_TRUE(r.stop);
    EXPECT_FALSE(r.stop());
    owner_.pending = 1003;
    stop_seen = r.stop();
    owner_.pending = 1000;
  });
  EXPECT_TRUE(mender_.RunRestarterOperations());  // a child that hangs does not stop the run
  EXPECT_TRUE(stop_seen);
  EXPECT_TRUE(
      log_.HasError("CMender gave up waiting after 30 seconds (MaxWait) for: \\\\opt\\\\hangs"));
  EXPECT_EQ(Lines().size(), 2u);
}

TEST_F(MenderTest, WatcherTestGatesDetection) {
  ASSERT_TRUE(mender_.CreateWatcher() != nullptr);
  ASSERT_TRUE(Load("Begin=Detection\nEnd=\n"));
  EXPECT_FALSE(mender_.XTst());  // not armed: no test
  ASSERT_TRUE(mender_.AddWatcherCounter("\\\\WEB1\\Process(server)\\Elapsed Time"));
  mender_.SetSensitivity(5);
  EXPECT_TRUE(mender_.RunDetectOperations());
  EXPECT_EQ(std::tuple(watcher_.threshold, watcher_.level, mender_.LastWatcherTest()),
            std::tuple(16, 96, true));
  watcher_.accept = false;
  EXPECT_FALSE(mender_.AddWatcherCounter("\\\\WEB1\\Process(db)\\Elapsed Time"));

  log_.Clear();
  watcher_.working = false;
  mender_.SetSensitivity(-3);  // 10 - trunc(3.6) = 7
  EXPECT_FALSE(mender_.RunDetectOperations());
  EXPECT_EQ(watcher_.threshold, 7);
  EXPECT_TRUE(log_.HasError("Auto Watcher finds site is inoperative."));
  EXPECT_FALSE(log_.HasEvent("|||------------End DETECT Operations"));
}

std::vector<std::string> Steps(CMender& m) {
  std::vector<std::string> out;
  for (const CInstruction* s : m.Instructions()) {
    out.push_back(s->Name().ToString() + "|" + s->Value().ToString());
  }
  return out;
}

TEST_F(MenderTest, LineFormatKeywordsAndSettings) {
  ASSERT_TRUE(
      Load("## a comment line\r\n"
           "start = notepad.exe ## comment\r\n"
           "Start=a=b\n"
           "a line without an equals sign\n"
           "Unknown = ignored\n"
           "  STOP  =  server.exe  \n"
           "RetryCount=abc\n"
           "MaxWait=\n"
           "UserName=first\n"
           "UserName=second\n"
           "PathToInternetExplorer=/usr/bin/firefox\n"
           "DomainName = CORP # one hash is text\n"
           "Wait=5"));  // the last line has no line end
  EXPECT_EQ(Steps(mender_), (std::vector<std::string>{"start|notepad.exe", "Start|a=b",
                                                      "STOP|server.exe", "Wait|5"}));
  EXPECT_EQ(std::tuple(mender_.RetryCount(), mender_.MaxWait(), mender_.UserName().ToString(),
                       mender_.BrowserPath().ToString(), mender_.DomainName().ToString()),
            std::tuple(0, 0, "second", "/usr/bin/firefox", "CORP # one hash is text"));
  EXPECT_TRUE(log_.HasEvent("Load Instruction: start = notepad.exe"));
  EXPECT_TRUE(log_.HasEvent("|||------ End Loading program from Sentinex.ini"));
}

TEST_F(MenderTest, DetectWatchesPosixAndWindowsPathsAndNeedsAFolder) {
  ASSERT_TRUE(Load("Detect=/var/log/app.log\nDetect= C:\\logs\\web.log \nDetect=" + Folder() +
                   "own.log\n"));
  const auto paths = [&](int i) {
    const CActivityDetector* d = mender_.InstructionAt(i)->Detector();
    return d->WatchedPath().ToString() + " -> " + d->CopyPath().ToString();
  };
  EXPECT_EQ(paths(0), "/var/log/app.log -> " + Folder() + "app.log");
  EXPECT_EQ(paths(1), "C:\\logs\\web.log -> " + Folder() + "web.log");
  // A file of the installation folder is never its own copy.
  EXPECT_EQ(paths(2), Folder() + "own.log -> " + Folder() + "own.log.copy");

  // A file without a folder stops the load: the steps read so far stay, nothing after is read.
  WriteProgram("Start=first\nDetect=app.log\nStart=never\n");
  CMender m(clock_, launcher_, power_, keys_, factory_);
  EXPECT_FALSE(m.LoadProgram(Folder()));
  EXPECT_EQ(Steps(m), (std::vector<std::string>{"Start|first", "Detect|app.log"}));
}

TEST_F(MenderTest, AProgramOfManyStepsLoadsWholeAndInOrder) {
  constexpr int kSteps = 20'000;
  std::string text = "Begin=Detection\n";
  for (int i = 1; i < kSteps - 1; ++i) text += "Wait=" + std::to_string(i % 7) + "\n";
  text += "End=Detection\n";
  ASSERT_TRUE(Load(text));
  const std::vector<CInstruction*> steps = mender_.Instructions();
  ASSERT_EQ(steps.size(), static_cast<std::size_t>(kSteps));
  EXPECT_EQ(mender_.InstructionCount(), kSteps);
  EXPECT_TRUE(steps.front()->Name().IsSame("Begin"));
  EXPECT_TRUE(steps.back()->Name().IsSame("End"));
  for (int i = 1; i < kSteps - 1; i += 1999) {
    EXPECT_EQ(steps[i]->Value().ToString(), std::to_string(i % 7)) << i;
  }
}

// A missing file, a program without a step or cut short at an unreadable line, and a file others
// may change: none loads, each with its error line.
TEST_F(MenderTest, LoadRefusesWhatIsMissingCutShortOrOpenToOthers) {
  struct Case {
    const char* name;
    std::string text;  // "": no file
    mode_t mode;
    uid_t owner;  // 0: leave it
    const char* why;
  };
  const Case cases[] = {
      {"missing file", "", 0600, 0, "CIniFile::GetFirstKeyAndValue() cannot open INI file."},
      {"no line with =", "just words\n## Start=x\n", 0600, 0, "CMender::LoadFromIniFile() failed"},
      {"line longer than the buffer", "Start=a\nStart=" + std::string(600, 'x') + "\nStart=b\n",
       0600, 0, "CTxtFile4::ReadTextLine has buffer overflow."},
      {"world-writable", "Start=/bin/true\n", 0666, 0, "Sentinex.ini is writable by everyone"},
      {"group-writable", "Start=/bin/true\n", 0620, 0, "Sentinex.ini is writable by its group"},
      {"foreign owner", "Start=/bin/true\n", 0600, 65534, "Sentinex.ini is owned by uid 65534"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.owner != 0 && ::geteuid() != 0) GTEST_SKIP() << "needs root to give the file away";
    ::unlink(dir_.File("Sentinex.ini").c_str());
    log_.Clear();
    if (!c.text.empty()) {
      WriteProgram(c.text);
      ::chmod(dir_.File("Sentinex.ini").c_str(), c.mode);
    }
    if (c.owner != 0) {
      ASSERT_EQ(::chown(dir_.File("Sentinex.ini").c_str(), c.owner, 0), 0);
    }
    CMender m(clock_, launcher_, power_, keys_, factory_);
    EXPECT_FALSE(m.LoadProgram(Folder()));
    EXPECT_TRUE(log_.HasError("CMender::LoadFromIniFile() failed"));
    EXPECT_THAT(log_.Errors(), testing::Contains(testing::HasSubstr(c.why)));
  }
}

TEST(RestartProgramCheck, TellsWhatTheEngineWouldSkip) {
  using Lines = std::vector<std::string>;
  const struct {
    const char* program;
    Lines expected;
  } cases[] = {
      {"Begin=Detection\nDetect=/var/log/app.log\nEnd=\nBegin=RESTARTER\n"
       "stop = server.exe ## comment\nWait=5\nStartAndComplete=/opt/app/start\nEnd=\n"
       "MaxWait=60\nUserName=admin\n",
       {}},
      {"Begin=RESTARTER\nStpo=typo\n## Stop=commented out\nStart=/opt/a\nRestartAll=1\nEnd=\n",
       {"Sentinex.ini line 2: unknown step Stpo: did you mean Stop?",
        "Sentinex.ini line 5: unknown step RestartAll: it is skipped"}},
      {"Detect=app.log\nMaxWait=abc\nWait=\n",
       {"Sentinex.ini line 1: Detect=app.log: needs a folder and a file name",
        "Sentinex.ini line 2: MaxWait=abc: expected a whole number of seconds",
        "Sentinex.ini line 3: Wait=: expected a whole number of seconds"}},
      {"## nothing but comments\n",
       {"Sentinex.ini: holds no KEY=VALUE line; the restart engine does not start with it"}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.Write("Sentinex.ini", c.program);
    EXPECT_EQ(recovery::CheckRestartProgram(dir.File("Sentinex.ini"), "Sentinex.ini"), c.expected)
        << c.program;
  }
  TempDir empty;
  EXPECT_EQ(recovery::CheckRestartProgram(empty.File("Sentinex.ini"), "Sentinex.ini"),
            (Lines{"Sentinex.ini: missing; the restart engine does not start without it (install "
                   "the example Sentinex.ini)"}));
}

}  // namespace
}  // namespace snx::test

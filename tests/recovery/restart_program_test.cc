// Loading the restart program: line format, keywords, engine settings, "Detect" set-up, and
// the files that are refused; the check that tells the lines the engine would pass over.

#include <unistd.h>

#include "mender_fixture.h"
#include "recovery/restart_program_check.h"

namespace snx::test {
namespace {

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
  EXPECT_EQ(mender_.RetryCount(), 0);
  EXPECT_EQ(mender_.MaxWait(), 0);
  EXPECT_EQ(mender_.UserName().ToString(), "second");
  EXPECT_EQ(mender_.BrowserPath().ToString(), "/usr/bin/firefox");
  EXPECT_EQ(mender_.DomainName().ToString(), "CORP # one hash is text");
  EXPECT_TRUE(log_.HasEvent("Load Instruction: start = notepad.exe"));
  EXPECT_TRUE(log_.HasEvent("|||------ End Loading program from Sentinex.ini"));
}

TEST_F(MenderTest, LoadFailures) {
  struct Case {
    const char* name;
    bool present;
    std::string text;
  };
  const Case cases[] = {
      {"missing file", false, ""},
      {"no line with =", true, "just words\n## Start=x\n"},
      {"line longer than the buffer", true,
       "Start=a\nStart=" + std::string(600, 'x') + "\nStart=b\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(dir_.File("Sentinex.ini").c_str());
    log_.Clear();
    if (c.present) WriteProgram(c.text);
    CMender m(clock_, launcher_, power_, keys_, factory_);
    EXPECT_FALSE(m.LoadProgram(Folder()));
    EXPECT_TRUE(log_.HasError("CMender::LoadFromIniFile() failed"));
  }
  // A program cut short at an unreadable line does not pass for a whole one.
  EXPECT_TRUE(log_.HasError("CTxtFile4::ReadTextLine has buffer overflow."));
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

TEST_F(MenderTest, ProgramOthersMayWriteIsRefused) {
  struct Case {
    const char* name;
    mode_t mode;
    uid_t owner;  // 0: leave it
    const char* why;
  };
  const Case cases[] = {
      {"world-writable", 0666, 0, "writable by everyone"},
      {"group-writable", 0620, 0, "writable by its group"},
      {"foreign owner", 0600, 65534, "owned by uid 65534"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.owner != 0 && ::geteuid() != 0) GTEST_SKIP() << "needs root to give the file away";
    log_.Clear();
    WriteProgram("Start=/bin/true\n");
    ::chmod(dir_.File("Sentinex.ini").c_str(), c.mode);
    if (c.owner != 0) {
      ASSERT_EQ(::chown(dir_.File("Sentinex.ini").c_str(), c.owner, 0), 0);
    }
    CMender m(clock_, launcher_, power_, keys_, factory_);
    EXPECT_FALSE(m.LoadProgram(Folder()));
    EXPECT_EQ(m.InstructionCount(), 0);
    bool named = false;
    for (const auto& e : log_.Errors()) {
      named |= e.find("Sentinex.ini") != std::string::npos && e.find(c.why) != std::string::npos;
    }
    EXPECT_TRUE(named);
    EXPECT_TRUE(log_.HasError("CIniFile::GetFirstKeyAndValue() cannot open INI file."));
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

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>

#include "platform/launcher.h"
#include "platform/process_list.h"
#include "platform/process_stats.h"
#include "support/child_programs.h"
#include "support/test_support.h"

extern char** environ;

namespace snx::platform {
namespace {

using namespace std::chrono_literals;

// The /proc process list, with child processes of our own making.
// A sleeping child, killed and reaped when it goes out of scope. posix_spawn returns once the
// child runs the new program.
struct SleepingChild {
  explicit SleepingChild(const std::string& program) {
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("30"), nullptr};
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) pid = -1;
  }
  ~SleepingChild() {
    if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
  }
  pid_t pid = -1;
};

const ProcessInfo* Find(const std::vector<ProcessInfo>& list, int pid) {
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& p) { return p.pid == pid; });
  return it == list.end() ? nullptr : &*it;
}

TEST(ProcessListTest, SeesAChildWithItsExecutableAndBaseName) {
  test::TempDir dir;
  const std::string program = test::CopyProgram(dir, "/bin/sleep", "snx child.probe.bin");
  std::vector<ProcessInfo> list;
  auto child = std::make_unique<SleepingChild>(program);
  ASSERT_GT(child->pid, 0);
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(Use<ProcessList>().Snapshot(list));
    const ProcessInfo* seen = Find(list, child->pid);
    ASSERT_NE(seen, nullptr) << round;
    // The second round runs after the file was removed (as an upgrade does): the process
    // still counts as running that program.
    EXPECT_EQ(seen->executable_path, program) << round;
    EXPECT_EQ(seen->base_name, "snx child.probe.bin") << round;
    std::filesystem::remove(program);
  }
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                             [](const auto& a, const auto& b) { return a.pid < b.pid; }));
  const int pid = child->pid;
  child.reset();
  ASSERT_TRUE(Use<ProcessList>().Snapshot(list));
  EXPECT_EQ(Find(list, pid), nullptr);
}

TEST(ProcessListTest, ReadsMoreProcessesThanOldFixedLimitsAllowed) {
  constexpr int kChildren = 1100;  // beyond 1,024 process ids
  std::vector<std::unique_ptr<SleepingChild>> children;
  for (int i = 0; i < kChildren; ++i) {
    children.push_back(std::make_unique<SleepingChild>("/bin/sleep"));
    ASSERT_GT(children.back()->pid, 0) << i;
  }
  std::vector<ProcessInfo> list;
  ASSERT_TRUE(Use<ProcessList>().Snapshot(list));
  int found = 0;
  for (const auto& c : children) found += Find(list, c->pid) != nullptr ? 1 : 0;
  EXPECT_EQ(found, kChildren);
}

TEST(ProcessStatsTest, AChildThatEndedIsGoneBeforeItIsReaped) {
  SleepingChild child("/bin/sleep");
  ASSERT_GT(child.pid, 0);
  ProcessStats stats;
  ASSERT_TRUE(Use<ProcessStatsReader>().Read(child.pid, stats));
  EXPECT_EQ(stats.pid, child.pid);
  ASSERT_EQ(kill(child.pid, SIGKILL), 0);
  // Not reaped yet: /proc still has the entry, as a zombie.
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(Use<ProcessStatsReader>().Read(child.pid, stats));
}

// The launcher against real child processes.
// Records what "Regsvr32" asks; a file it knows registers, any other cannot be loaded.
class RecordingRegistrar final : public PluginRegistrar {
 public:
  int RegisterPlugin(std::string_view module_path, bool unregister, std::string* why) override {
    calls.push_back((unregister ? "unregister " : "register ") + std::string(module_path));
    if (module_path.ends_with("/Thing.dll")) return 0;
    *why = "cannot find file";
    return 3;
  }
  std::vector<std::string> calls;
};

class PosixLauncherTest : public ::testing::Test {
 protected:
  LaunchResult Wait(const std::string& line, std::chrono::milliseconds max = 10s,
                    std::function<bool()> stop = {}) {
    return launcher_->RunAndWait(line, LaunchWindow::kHidden, max, std::move(stop));
  }

  test::TempDir dir_;
  RecordingRegistrar components_;
  std::unique_ptr<Launcher> launcher_ =
      NewPosixLauncher({dir_.path() + "/", &components_, nullptr});
};

TEST_F(PosixLauncherTest, RunsTheProgramMeantAndReportsItsExitCode) {
  EXPECT_TRUE(Wait("sh -c \"exit 3\"").ExitedWith(3));
  EXPECT_TRUE(Wait("true.exe").ExitedWith(0)) << "the .exe fallback";
  EXPECT_TRUE(Wait(R"(\\bin\\sh -c "kill -9 $$")").ExitedWith(128 + 9)) << "escaped path";
  EXPECT_EQ(Wait("no-such-program-anywhere.exe").outcome, LaunchOutcome::kNotFound);
  EXPECT_EQ(Wait("  ").outcome, LaunchOutcome::kBadCommand);
  dir_.Write("plain.txt", "not a program");
  EXPECT_EQ(Wait(dir_.File("plain.txt")).outcome, LaunchOutcome::kStartFailed);
  // A web server reset runs the reset command of the install folder.
  test::WriteScript(dir_, "iisreset", "echo \"$@\" > \"$(dirname \"$0\")/reset-ran\"\n");
  EXPECT_TRUE(Wait("IISRESET.exe /noforce").ExitedWith(0));
  EXPECT_EQ(dir_.Read("reset-ran"), "/noforce\n");
}

TEST_F(PosixLauncherTest, ATrustedOnlyStartRefusesAProgramOthersMayChange) {
  test::WriteScript(dir_, "app", "exit 7\n");
  const auto run = [&](const std::string& line) {
    LaunchRequest request;
    request.command_line = line;
    request.window = LaunchWindow::kHidden;
    request.max_wait = 10s;
    request.trusted_only = true;
    return launcher_->Run(request);
  };
  EXPECT_TRUE(run(dir_.File("app")).ExitedWith(7));
  EXPECT_TRUE(run("sh -c \"exit 3\"").ExitedWith(3)) << "a name on PATH, judged where found";
  ::chmod(dir_.File("app").c_str(), 0775);
  const LaunchResult refused = run(dir_.File("app") + " --serve");
  EXPECT_EQ(refused.outcome, LaunchOutcome::kStartFailed);
  EXPECT_EQ(refused.detail,
            "refused: " + dir_.File("app") + " is writable by its group (mode 0775)");
  EXPECT_TRUE(Wait(dir_.File("app")).ExitedWith(7)) << "other starts are not judged";
}

TEST_F(PosixLauncherTest, ArgumentsArriveAsWordsWithoutAShell) {
  const std::string out = dir_.File("out.txt");
  ASSERT_TRUE(
      Wait("sh -c \"printf '%s|' \\\"$@\\\" > " + out + "\" x \"a b\" '$HOME'").ExitedWith(0));
  EXPECT_EQ(dir_.Read("out.txt"), "a b|'$HOME'|");
}

TEST_F(PosixLauncherTest, WaitsAreBoundedAndEndOnStop) {
  const auto start = std::chrono::steady_clock::now();
  const LaunchResult timed = Wait("sleep 30", 200ms);
  EXPECT_EQ(timed.outcome, LaunchOutcome::kTimedOut);
  ASSERT_GT(timed.pid, 0);
  EXPECT_TRUE(std::filesystem::exists("/proc/" + std::to_string(timed.pid))) << "left running";

  std::atomic<int> polls{0};
  const LaunchResult stopped = Wait("sleep 30", 30s, [&] { return ++polls > 3; });
  EXPECT_EQ(stopped.outcome, LaunchOutcome::kStopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

  // Children given up on, and children never waited for, are reaped once they end.
  const LaunchResult started = launcher_->RunNoWait("sleep 30", LaunchWindow::kNormal);
  EXPECT_EQ(started.outcome, LaunchOutcome::kStarted);
  for (const int pid : {timed.pid, stopped.pid, started.pid}) {
    test::KillChild(pid);
    EXPECT_TRUE(test::ProcessGone(pid)) << "zombie " << pid;
  }
}

TEST_F(PosixLauncherTest, KillEndsAChildByPidOrByItsStemAndSparesInitAndUs) {
  const std::string stem = test::UniqueStem("snxkill");
  const std::string program = test::CopyProgram(dir_, "/bin/sleep", stem);
  const LaunchResult by_pid = launcher_->RunNoWait(program + " 30", LaunchWindow::kHidden);
  const LaunchResult by_name = launcher_->RunNoWait(program + " 30", LaunchWindow::kHidden);
  ASSERT_EQ(by_pid.outcome, LaunchOutcome::kStarted);

  EXPECT_TRUE(Wait("KILL /f " + std::to_string(by_pid.pid)).ExitedWith(0));
  EXPECT_TRUE(test::ProcessGone(by_pid.pid));
  // The name as the restart program writes it: a Windows path with ".exe"; two blanks.
  EXPECT_TRUE(Wait("KILL /f  C:\\Apps\\" + stem + ".exe").ExitedWith(0));
  EXPECT_TRUE(test::ProcessGone(by_name.pid));
  EXPECT_TRUE(Wait("KILL /f " + stem).ExitedWith(128)) << "nothing left to kill";
  for (const std::string& target :
       std::vector<std::string>{"0", "1", std::to_string(::getpid()), "99999999999"}) {
    const LaunchResult r = Wait("KILL /f " + target);
    EXPECT_TRUE(r.built_in && r.ExitedWith(128)) << target << ": " << r.detail;
  }
  EXPECT_EQ(Wait("KILL /f").outcome, LaunchOutcome::kBadCommand);
}

TEST_F(PosixLauncherTest, RegistrationGoesToTheRegistrarItWasGiven) {
  EXPECT_TRUE(Wait("Regsvr32 /s Thing.dll").ExitedWith(0));
  EXPECT_TRUE(Wait("REGSVR32.EXE /s /u " + dir_.File("Thing.dll")).ExitedWith(0));
  EXPECT_TRUE(Wait("Regsvr32 /s Missing.dll").ExitedWith(3));
  EXPECT_EQ(components_.calls, (std::vector<std::string>{"register " + dir_.File("Thing.dll"),
                                                         "unregister " + dir_.File("Thing.dll"),
                                                         "register " + dir_.File("Missing.dll")}));
  // A launcher without one cannot register anything.
  const LaunchResult alone = NewPosixLauncher({})->RunAndWait(
      "Regsvr32 /s " + dir_.File("Thing.dll"), LaunchWindow::kHidden, 10s, {});
  EXPECT_TRUE(alone.ExitedWith(3));
  EXPECT_NE(alone.detail.find("no component factory"), std::string::npos) << alone.detail;
}

}  // namespace
}  // namespace snx::platform

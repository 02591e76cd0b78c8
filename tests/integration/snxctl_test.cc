// snxctl as an administrator runs it without a service: the help and usage of every command,
// conf (and the service's own classes reading what it wrote), ini with the real engine, and
// cycle against a real web server on loopback.

#include <iterator>
#include <sstream>

#include "integration/service_rig.h"

namespace snx::test {
namespace {

// Without a service: usage, help and the message for a service that is not running.
TEST(SnxctlControl, HelpUsageAndNoService) {
  TempDir root;
  ScopedEnv root_env("SNX_ROOT", root.path().c_str());
  const std::string service_commands = " go test stop state action status watch ";
  for (const std::string command :
       {"go",         "test",       "stop",  "state", "action",   "status",    "watch",
        "activity",   "components", "conf",  "cycle", "ini",      "mail-test", "notify-test",
        "phone-test", "probe",      "procs", "pulse", "register", "report"}) {
    const CtlRun help = Snxctl({command, "--help"});
    EXPECT_TRUE(Ran(help, 0, {"usage: snxctl " + command}));
    if (service_commands.find(" " + command + " ") == std::string::npos) continue;
    EXPECT_EQ(Snxctl({command, "extra"}).exit_code, 2) << command;
    EXPECT_TRUE(Ran(Snxctl({command}), 1, {"snxctl " + command + ": the service is not running"}));
  }
  // A bad argument: its one line and a pointer to the command's --help, not the whole help.
  // One row each: the arguments, "|", and what the line says after "snxctl COMMAND: ". The
  // report window is checked whether or not the report companion is registered.
  for (const std::string& row : LinesOf(R"(phone 5|N must be 1, 2, 3 or 4
phone 1 2|N must be 1, 2, 3 or 4
watch --count 0|bad argument '--count'
go now|unexpected argument 'now'
conf frobnicate|unknown command 'frobnicate'
probe --retries 3|unknown option '--retries'
probe|give a URL
procs a b|one PROGRAM only (quote a path with blanks)
activity --seconds 0 x|--seconds needs a number from 1 to 86400
activity --sensitivity x x|--sensitivity needs a number from 0 to 100
cycle --restarts x|--restarts needs a number
ini show extra|show takes no arguments
ini run sideways|run takes detection or restarter, and --dry-run
phone-test --louder|unknown argument '--louder'
probe --ca-file /no/such/ca.pem https://127.0.0.1/|cannot read the CA file '/no/such/ca.pem'
probe --proxy|--proxy needs a proxy
probe --timeout 0 http://h/|--timeout needs a number of seconds (0 < S <= 86400)
probe http://a/ http://b/|one URL only
probe http://a/ --contains|--contains needs a text (TEXT or !TEXT)
probe --contains ! http://a/|--contains needs a text (TEXT or !TEXT)
procs --bogus|unknown option '--bogus'
report --since 2025-01-12 --until 2025-01-11|the window is empty: since is not before until
report --json --metrics|--json cannot go with --html or --metrics
mail-test --remote|--remote needs a URL
mail-test --wait 0|--wait needs a number of seconds (0 < S <= 3600)
components x|no arguments expected
register|give one FILE
ini frobnicate|unknown command 'frobnicate'
mail-test --up --down|--up and --down exclude each other
phone-test --up --down|--down and --up exclude each other
notify-test --up --down|--up and --down exclude each other
pulse --max-age x|--max-age needs a number of seconds from 0 to 31622400
report --since 3x|since: not 24h, 7d, 30d (a number of hours or days) or a date (MM/DD/YY [HH:MM:SS] or YYYY-MM-DD [HH:MM:SS])
frobnicate|unknown command 'frobnicate')")) {
    std::istringstream words(row.substr(0, row.find('|')));
    const Args args{std::istream_iterator<std::string>(words), {}};
    const std::string command = args[0] == "frobnicate" ? "snxctl" : "snxctl " + args[0];
    const CtlRun run = Snxctl(args);
    EXPECT_EQ(run.out,
              command + ": " + row.substr(row.find('|') + 1) + "\nTry '" + command + " --help'.\n");
    EXPECT_EQ(run.exit_code, 2) << row;
  }
  EXPECT_EQ(Snxctl({"phone", "2"}).exit_code, 1);
}

CtlRun Conf(const TempDir& dir, const Args& args) { return SnxctlIn("conf", dir, args); }

// A plain settings file with CR LF and LF line ends, and what export gives back.
const std::string kPlain =
    "[KEYS]\r\nMinuteInterval=5\r\nPassword=p@ss word!\nWATCH=1\nSvrStatus=Restarting\n"
    "[URLS]\nhttp://127.0.0.1/shop/?q=1&x={y}|~z\n[EMAILS]\nops@example.com\n";
const std::string kExported = [] {
  std::string lines = kPlain;
  std::erase(lines, '\r');
  return lines;
}();

// A folder whose settings file was imported from kPlain.
void Import(const TempDir& dir) {
  dir.Write("plain.txt", kPlain);
  ASSERT_EQ(Conf(dir, {"import", dir.File("plain.txt")}).exit_code, 0);
}

TEST(SnxctlConfTest, ImportEnciphersEveryCharacterAndExportGivesTheLinesBack) {
  TempDir dir;
  Import(dir);
  // Enciphered line by line (the characters themselves are the cipher's tests' business).
  const std::string bytes = dir.Read("AutoSet.caf");
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 9);
  EXPECT_EQ(bytes.find("Password"), std::string::npos) << "the file must not be plain text";
  EXPECT_EQ(Conf(dir, {"export"}).out, kExported);

  // The service's classes read the same settings.
  CRamFileRO image;
  CAllSets sets;
  sets.SetProgramDirectory(dir.path());
  sets.SetSettingsImage(&image);
  ASSERT_TRUE(sets.ReInitialize());
  EXPECT_EQ(sets.m_iMinuteInterval, 5);
  EXPECT_EQ(sets.m_sPassword.View(), "p@ss word!");
  EXPECT_EQ(sets.m_iLastKnownServerState, QOR_FAILS_DETECTED_SERVER_RESTARTING);
  EXPECT_STREQ(image.FirstLineOfSection("[URLS]"), "http://127.0.0.1/shop/?q=1&x={y}|~z");
}

TEST(SnxctlConfTest, KeysAndSectionsEditedOneByOne) {
  TempDir dir;
  for (const Args& args : std::vector<Args>{{"set", "MinuteInterval", "7"},  // makes the file
                                            {"add", "URLS", "http://127.0.0.1/a"},
                                            {"add", "[urls]", "http://127.0.0.1/b"},
                                            {"set", "EmailFrom", "ops@example.com"},
                                            {"set", "minuteinterval", "9"},
                                            {"add", "STOPS", std::string(255, 's')}}) {
    ASSERT_EQ(Conf(dir, args).exit_code, 0) << args[0] << " " << args[1];
  }
  EXPECT_EQ(Conf(dir, {"get", "MINUTEINTERVAL"}).out, "9\n");
  EXPECT_EQ(Conf(dir, {"list", "URLS"}).out, "http://127.0.0.1/a\nhttp://127.0.0.1/b\n");
  EXPECT_EQ(Conf(dir, {"list", "STOPS"}).out, std::string(255, 's') + "\n");  // the longest line
  EXPECT_EQ(Conf(dir, {"list", "PROGS"}).out, "");
  EXPECT_EQ(Conf(dir, {"remove", "URLS", "http://127.0.0.1/a"}).exit_code, 0);
  EXPECT_EQ(Conf(dir, {"remove", "URLS", "http://127.0.0.1/a"}).exit_code, 1);
  EXPECT_EQ(Conf(dir, {"get", "Missing"}).exit_code, 1);
  EXPECT_EQ(Conf(dir, {"export"}).out,
            "[KEYS]\nminuteinterval=9\nEmailFrom=ops@example.com\n[URLS]\nhttp://127.0.0.1/b\n"
            "[STOPS]\n" +
                std::string(255, 's') + "\n");
}

TEST(SnxctlConfTest, BadInputLeavesTheFileAsItWas) {
  TempDir dir;
  Import(dir);
  const std::string before = dir.Read("AutoSet.caf");
  dir.Write("long.txt", "[KEYS]\n" + std::string(256, 'a') + "\n");
  dir.Write("high.txt", "[KEYS]\r\nName=caf\xe9\r\n");
  const struct {
    Args args;
    int exit_code;
    const char* message;
  } cases[] = {
      {{"set", "Password", std::string(300, 'x')}, 1, "at most 255"},
      {{"set", "Password", "a\tb"}, 1, "code 9"},
      {{"set", "Bad=Key", "1"}, 1, "must not be empty or hold"},
      {{"set", "Password", "x[y"}, 1, "must not hold \"[\""},
      {{"add", "URLS", "http://[::1]/"}, 1, "must not hold \"[\""},
      {{"add", "KEYS", "A=1"}, 2, "use 'get' and 'set'"},
      {{"import", dir.File("long.txt")}, 1, "line 2 is 256 characters"},
      {{"import", dir.File("high.txt")}, 1, "code 233"},
      {{"import", dir.File("missing.txt")}, 1, "No such file"},
      // An endless input is refused at the size bound, not read until memory runs out.
      {{"import", "/dev/zero"}, 1, "is larger than 1048576 bytes"},
      {{}, 2, "no command given"},
      {{"list", "[A]B]"}, 2, "bad section name"},
      {{"set", "MinuteInterval", "abc"},
       2,
       "MinuteInterval takes a whole number from 1 to 1440, not 'abc'; nothing changed"},
      {{"set", "emailenabled", "yes"}, 2, "EmailEnabled takes 1 (yes) or 0 (no)"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(Ran(Conf(dir, c.args), c.exit_code, {c.message}));
    EXPECT_EQ(dir.Read("AutoSet.caf"), before) << c.message;
  }
}

// conf check on the files of a real folder: a line per problem and exit 1, then exit 0 once
// they are mended. An unknown key is set, with a warning.
TEST(SnxctlConfTest, CheckTellsEachProblemOfTheSettingsAndTheRestartProgram) {
  TempDir dir;
  TempDir root;
  ScopedEnv root_env("SNX_ROOT", root.path().c_str());
  Import(dir);
  // A companion registered from a file that is gone since.
  const std::string plugin = BinFile("QorPulse.dll");
  fs::copy_file(plugin, dir.File("QorPulse.dll"));
  ASSERT_EQ(Snxctl({"register", "--dir", dir.path(), "QorPulse.dll"}).exit_code, 0);
  fs::remove(dir.File("QorPulse.dll"));
  EXPECT_TRUE(Ran(Conf(dir, {"set", "EmailEnabeld", "1"}), 0,
                  {"warning: EmailEnabeld is not a key the service reads; did "
                   "you mean EmailEnabled?"}));
  dir.Write("Sentinex.ini", "Begin=RESTARTER\nStpo=typo\nEnd=\n");
  const auto bad = Conf(dir, {"check"});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.out,
            "AutoSet.caf line 6: unknown key EmailEnabeld: did you mean EmailEnabled?\n"
            "Sentinex.ini line 2: unknown step Stpo: did you mean Stop?\n"
            "QorPulse.Pulse: registered to " +
                dir.File("QorPulse.dll") +
                ", which does not exist (snxctl register QorPulse.dll)\n");
  fs::copy_file(plugin, dir.File("QorPulse.dll"));  // back again

  Import(dir);
  dir.Write("Sentinex.ini", "Begin=RESTARTER\nStop=server.exe\nEnd=\n");
  EXPECT_TRUE(Ran(Conf(dir, {"check"}), 0));
}

// A user who may not read the file (a member of snxadm, not the service's user) is told so.
TEST(SnxctlConfTest, AFileThisUserMayNotReadIsNamedAsSuch) {
  if (!CanRunAsNobody()) GTEST_SKIP() << "needs root and setpriv to run as another user";
  TempDir dir;
  Import(dir);
  ::chmod(dir.path().c_str(), 0755);
  const auto run = AsNobody({"conf", "--dir", dir.path(), "get", "MinuteInterval"});
  EXPECT_TRUE(Ran(run, 1, {"Permission denied (the settings file is readable by its owner only"}));
  EXPECT_THAT(run.out, Not(HasSubstr("cannot find its file")));
}

TEST(SnxctlConfTest, ChangesOfProcessesRunningAtOnceAreAllKept) {
  TempDir dir;
  Import(dir);
  // Six writers, each adding eight entries one process after the other, all at the same time.
  constexpr int kWriters = 6;
  constexpr int kAdds = 8;
  const std::string loop = "i=0; while [ $i -lt " + std::to_string(kAdds) +
                           " ]; do i=$((i+1)); \"$0\" conf --dir \"$1\" add URLS "
                           "\"http://w$2-$i/\" || exit 1; done";
  std::vector<std::unique_ptr<Child>> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(std::make_unique<Child>(
        Args{"/bin/sh", "-c", loop, SnxctlPath(), dir.path(), std::to_string(w)}));
  }
  for (auto& w : writers) EXPECT_EQ(w->Wait(std::chrono::seconds(60)), 0);
  const std::string listed = Conf(dir, {"list", "URLS"}).out;
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 1; i <= kAdds; ++i) {
      const std::string entry = "http://w" + std::to_string(w) + "-" + std::to_string(i) + "/\n";
      EXPECT_THAT(listed, HasSubstr(entry)) << "a change reported as saved was lost";
    }
  }
  EXPECT_THAT(Conf(dir, {"get", "Password"}).out, HasSubstr("p@ss word!"));
}

TEST(SnxctlConfTest, NoFileIsMadeOrChangedUnlessASaveSucceeds) {
  TempDir dir;
  EXPECT_TRUE(
      Ran(Snxctl({"conf", "--dir", dir.File("nowhere"), "set", "A", "1"}), 1, {"no such folder"}));
  EXPECT_FALSE(fs::exists(dir.File("nowhere")));
  EXPECT_TRUE(Ran(Conf(dir, {"show"}), 1, {"no settings file"}));
  EXPECT_EQ(Conf(dir, {"remove", "URLS", "http://x/"}).exit_code, 1);
  EXPECT_FALSE(fs::exists(dir.File("AutoSet.caf"))) << "a failed command made a file";

  // A file with a line the service cannot read stays as it is, whatever is asked.
  const std::string damaged = std::string(300, 'A') + "\r\n";
  dir.Write("AutoSet.caf", damaged);
  for (const Args& args : std::vector<Args>{{"show"}, {"set", "A", "1"}}) {
    EXPECT_TRUE(Ran(Conf(dir, args), 1, {"LoadToRam() failed"})) << args[0];
    EXPECT_EQ(dir.Read("AutoSet.caf"), damaged);
  }
}

// snxctl ini --dir FOLDER ARGS... on the restart program `text` (none when empty).
CtlRun IniRun(const TempDir& dir, const std::string& text, const Args& args) {
  if (!text.empty()) dir.Write("Sentinex.ini", text);
  ::chmod(dir.File("Sentinex.ini").c_str(), 0600);
  return SnxctlIn("ini", dir, args);
}

TEST(SnxctlIni, ShowPrintsTheProgramAndADryRunStartsKillsAndDeletesNothing) {
  TempDir dir, watched;
  EXPECT_EQ(IniRun(dir, "", {"show"}).exit_code, 1);  // no program
  EXPECT_TRUE(
      Ran(IniRun(dir,
                 "MaxWait=30\nBegin=Detection\nDetect=/var/log/app.log\nEnd=\n"
                 "Begin=RESTARTER\nStop=server\nStart=/usr/sbin/app --serve\nEnd=\nUserName=ops\n",
                 {"show"}),
          0,
          {"[Detection] detection section", "[RESTARTER] restarter section", "KILL /f  server",
           "MaxWait                30 s", "UserName               ops"}));
  watched.Write("signal", "x");
  EXPECT_TRUE(Ran(IniRun(dir,
                         "Begin=RESTARTER\nStart=/bin/sh -c \"touch " + watched.File("started") +
                             "\"\nDeleteSignalFile=" + watched.File("signal") + "\nEnd=\n",
                         {"run", "restarter", "--dry-run"}),
                  0, {"delete " + watched.File("signal")}));
  EXPECT_TRUE(fs::exists(watched.File("signal")));
  EXPECT_FALSE(fs::exists(watched.File("started")));
}

class SnxctlCycle : public ::testing::Test {
 protected:
  CtlRun Cycle(const Args& args = {}) { return SnxctlIn("cycle", dir_, args); }

  std::atomic<bool> local_good_{true};
  std::atomic<bool> far_good_{true};
  TempDir dir_;
  LoopbackHttpServer server_{[this](const std::string& head) {
    const bool good = head.rfind("GET /far", 0) == 0 ? far_good_.load() : local_good_.load();
    return LoopbackHttpServer::Answer(good ? 200 : 500);
  }};
};

TEST_F(SnxctlCycle, DecidesUpRestartOrRebootAndChangesNothing) {
  EXPECT_TRUE(Ran(Cycle(), 1, {"cannot be read"}));
  EXPECT_FALSE(fs::exists(dir_.File("AutoSet.caf")));

  WriteSettings(dir_, {"[KEYS]", "AdminId=a", "Password=p", "MachineName=HOST",
                       "RestartsB4Reboot=2", "SvrStatus=Restarting", "[URLS]", server_.Url("/a"),
                       server_.Url("/b"), "[RURLS]", server_.Url("/far")});
  const std::string before = dir_.Read("AutoSet.caf");
  far_good_ = false;
  EXPECT_TRUE(Ran(Cycle(), 0,
                  {"local URL " + server_.Url("/a") + ": good (200)",
                   "remote URL " + server_.Url("/far") + ": FAILED (status 500)",
                   "detection section: not run (UseIni is off)", "decision: up"}));

  local_good_ = false;
  EXPECT_TRUE(
      Ran(Cycle(), 1,
          {"local URL " + server_.Url("/a") + ": FAILED (status 500)",
           "local URL " + server_.Url("/b") + ": not tested in this pass", "decision: restart"}));

  EXPECT_TRUE(Ran(Cycle({"--restarts", "2"}), 1, {"decision: reboot"}));
  EXPECT_EQ(dir_.Read("AutoSet.caf"), before);
  EXPECT_FALSE(fs::exists(dir_.File("Uptime.log")));
}

}  // namespace
}  // namespace snx::test

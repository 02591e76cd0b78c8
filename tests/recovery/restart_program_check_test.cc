// The restart program check: the lines the engine would pass over in silence, with their
// line numbers.

#include "recovery/restart_program_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace snx::test {
namespace {

using Lines = std::vector<std::string>;

TEST(RestartProgramCheck, TellsWhatTheEngineWouldSkip) {
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

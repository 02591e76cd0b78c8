// Start-and-wait of /bin/true through the launcher against bare posix_spawn + waitpid.
// Target: the launcher at most 1.3x the bare run.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include "platform/launcher.h"

extern char** environ;

namespace {

void BM_BarePosixSpawn(benchmark::State& state) {
  char arg0[] = "/bin/true";
  char* argv[] = {arg0, nullptr};
  for (auto _ : state) {
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("posix_spawn failed");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
  }
}
BENCHMARK(BM_BarePosixSpawn)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_LauncherRunAndWait(benchmark::State& state) {
  auto launcher = snx::platform::NewPosixLauncher({});
  for (auto _ : state) {
    const auto r = launcher->RunAndWait("/bin/true", snx::platform::LaunchWindow::kHidden,
                                        std::chrono::seconds(10));
    if (!r.ExitedWith(0)) {
      state.SkipWithError("launcher run failed");
      break;
    }
  }
}
BENCHMARK(BM_LauncherRunAndWait)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

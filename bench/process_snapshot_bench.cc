// One process snapshot (CImageName::Refresh: the /proc list and the records built from it)
// with 500 extra sleeping processes running. Target: under 10 ms per snapshot.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <vector>

#include "platform/process_list.h"
#include "probes/image_name.h"

extern char** environ;

namespace {

constexpr int kExtraProcesses = 500;

void BM_ImageNameRefresh(benchmark::State& state) {
  CImageName images;
  if (!images.Initialize()) {
    state.SkipWithError("no process list");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(images.Refresh());
  }
  state.counters["records"] = images.Count();
}

void BM_ProcessListSnapshot(benchmark::State& state) {
  std::vector<snx::platform::ProcessInfo> list;
  auto& processes = snx::platform::Use<snx::platform::ProcessList>();
  for (auto _ : state) {
    benchmark::DoNotOptimize(processes.Snapshot(list));
  }
  state.counters["processes"] = static_cast<double>(list.size());
}

BENCHMARK(BM_ImageNameRefresh)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_ProcessListSnapshot)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::vector<pid_t> children;
  char sleep_path[] = "/bin/sleep";
  char seconds[] = "600";
  char* args[] = {sleep_path, seconds, nullptr};
  for (int i = 0; i < kExtraProcesses; ++i) {
    pid_t pid = 0;
    if (posix_spawn(&pid, sleep_path, nullptr, nullptr, args, environ) != 0) break;
    children.push_back(pid);
  }
  std::printf("extra sleeping processes: %zu\n", children.size());
  benchmark::RunSpecifiedBenchmarks();
  for (pid_t pid : children) kill(pid, SIGKILL);
  for (pid_t pid : children) waitpid(pid, nullptr, 0);
  benchmark::Shutdown();
  return children.size() == static_cast<std::size_t>(kExtraProcesses) ? 0 : 1;
}

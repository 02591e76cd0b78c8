// One watcher sample of 50 watched processes against reading their /proc files bare.
// Target: the watcher's sample at most 2x the bare reads.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "activity_monitor.h"
#include "platform/launcher.h"
#include "text/counter_path.h"

namespace {

constexpr int kProcesses = 50;

// 50 sleeping children, each under a name of its own.
struct Children {
  Children() {
    dir = std::filesystem::temp_directory_path() / ("snxbench" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto launcher = snx::platform::NewPosixLauncher({});
    for (int i = 0; i < kProcesses; ++i) {
      const std::string stem = "snxbench" + std::to_string(i);
      const auto path = dir / stem;
      std::filesystem::copy_file("/bin/sleep", path,
                                 std::filesystem::copy_options::overwrite_existing);
      stems.push_back(stem);
      pids.push_back(
          launcher->RunNoWait(path.string() + " 600", snx::platform::LaunchWindow::kHidden).pid);
    }
    usleep(300000);
  }
  ~Children() {
    for (const int pid : pids) kill(pid, SIGKILL);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path dir;
  std::vector<std::string> stems;
  std::vector<int> pids;
};

Children& Shared() {
  static Children children;
  return children;
}

void ReadFile(const std::string& path) {
  char buffer[4096];
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
  close(fd);
}

void BM_BareProcReads(benchmark::State& state) {
  const Children& c = Shared();
  for (auto _ : state) {
    for (const int pid : c.pids) {
      const std::string base = "/proc/" + std::to_string(pid) + "/";
      ReadFile(base + "stat");
      ReadFile(base + "io");
      ReadFile(base + "status");
    }
  }
}
BENCHMARK(BM_BareProcReads)->Unit(benchmark::kMicrosecond);

void BM_WatcherSample(benchmark::State& state) {
  const Children& c = Shared();
  CActivityMonitor monitor(snx::platform::Use<snx::platform::ProcessList>(),
                           snx::platform::Use<snx::platform::ProcessStatsReader>());
  for (const auto& stem : c.stems) {
    for (int i = 0; i < snx::platform::kProcessCounterCount; ++i) {
      if (!monitor.AddCounter(
              snx::platform::BuildCounterPath("BENCH", stem, snx::platform::ProcessCounterAt(i)))) {
        state.SkipWithError("a child is not running");
        return;
      }
    }
  }
  for (auto _ : state) monitor.Sample();
}
BENCHMARK(BM_WatcherSample)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

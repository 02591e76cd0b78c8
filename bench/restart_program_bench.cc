// Loading a restart program and going through its steps as `snxctl ini show` does (load, then
// every step with what it does), at 10,000 and 100,000 steps. The time must grow with the
// number of steps, not with its square: BM_ShowTenfold loads both sizes in every iteration and
// reports "per_step_ratio", the time per step at 100,000 over the time per step at 10,000
// (about 1 when linear; a walk from the head for every step made it about 10).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "components/fake/fake_component_factory.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_key_store.h"
#include "platform/fake/fake_launcher.h"
#include "platform/fake/fake_power.h"
#include "recovery/instruction.h"
#include "recovery/mender.h"

namespace {

namespace sp = snx::platform;

// A folder holding a Sentinex.ini of `steps` steps inside one detection section (under the
// program's size bound even at 100,000 steps).
class ProgramFolder {
 public:
  explicit ProgramFolder(int steps) {
    std::string pattern = (std::filesystem::temp_directory_path() / "snxbench-XXXXXX").string();
    path_ = std::string(mkdtemp(pattern.data())) + "/";
    std::ofstream out(path_ + CMender::kProgramFile);
    const char* lines[] = {"Wait=1\n", "Stop=app\n", "Start=x\n"};
    out << "Begin=Detection\n";
    for (int i = 2; i < steps; ++i) out << lines[i % 3];
    out << "End=Detection\n";
  }
  ~ProgramFolder() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// One load and one pass over the steps; the number of steps seen.
int LoadAndShow(const std::string& folder) {
  sp::FakeClock clock;
  sp::FakeLauncher launcher;
  sp::FakePower power;
  sp::FakeKeyStore keys;
  sp::FakeComponentFactory components(&keys);
  CMender engine(clock, launcher, power, keys, components);
  if (!engine.LoadProgram(folder)) return -1;
  int seen = 0;
  for (CInstruction* step : engine.Instructions()) {
    benchmark::DoNotOptimize(engine.DescribeStep(*step));
    ++seen;
  }
  return seen;
}

void BM_LoadAndShow(benchmark::State& state) {
  const int steps = static_cast<int>(state.range(0));
  ProgramFolder folder(steps);
  for (auto _ : state) {
    if (LoadAndShow(folder.path()) != steps) return state.SkipWithError("the load failed");
  }
  state.SetItemsProcessed(state.iterations() * steps);
}
BENCHMARK(BM_LoadAndShow)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_ShowTenfold(benchmark::State& state) {
  constexpr int kSmall = 10'000;
  constexpr int kLarge = 100'000;
  ProgramFolder small(kSmall);
  ProgramFolder large(kLarge);
  using Clock = std::chrono::steady_clock;
  Clock::duration small_time{};
  Clock::duration large_time{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const int a = LoadAndShow(small.path());
    const auto t1 = Clock::now();
    const int b = LoadAndShow(large.path());
    const auto t2 = Clock::now();
    if (a != kSmall || b != kLarge) return state.SkipWithError("the load failed");
    small_time += t1 - t0;
    large_time += t2 - t1;
  }
  const double small_per_step =
      std::chrono::duration<double>(small_time).count() / static_cast<double>(kSmall);
  const double large_per_step =
      std::chrono::duration<double>(large_time).count() / static_cast<double>(kLarge);
  state.counters["per_step_ratio"] = large_per_step / small_per_step;
}
BENCHMARK(BM_ShowTenfold)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
BENCHMARK_MAIN();

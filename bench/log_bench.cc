// Log lines written per second: each line takes the named lock, looks at the path (one stat)
// and appends to the file held open, as the service writes its log (4 system calls a line). Target:
// at least 50,000 lines per second on one core.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "files/log_file.h"

namespace {

class TempRoot {
 public:
  TempRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "snxbench-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    setenv("SNX_ROOT", path_.c_str(), 1);
  }
  ~TempRoot() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void BM_LogEventLine(benchmark::State& state) {
  TempRoot root;
  CLogFile log;
  log.SetDirectory(root.path());
  if (!log.Open("SNXSVC")) {
    state.SkipWithError("the log could not be opened");
    return;
  }
  const std::string text = "COpsMngrThread::LowLevelInit() 4.1 a typical trace line of the service";
  for (auto _ : state) {
    benchmark::DoNotOptimize(log.LogEvent(text));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogEventLine)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();

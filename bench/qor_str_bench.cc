// The string operations every line of the system passes through.

#include <benchmark/benchmark.h>

#include <string>

#include "core/qor_str.h"

namespace {

void BM_AssignShort(benchmark::State& state) {
  CQorStr s;
  for (auto _ : state) {
    s.Assign("http://localhost/index.html");
    benchmark::DoNotOptimize(s.GetBuffer());
  }
}
BENCHMARK(BM_AssignShort);

void BM_AppendToGrow(benchmark::State& state) {
  for (auto _ : state) {
    CQorStr s("CGetWebPage Go: ");
    s.Append("http://localhost/some/longer/path/to/a/page.html");
    s.Append(" for this URL");
    benchmark::DoNotOptimize(s.GetBuffer());
  }
}
BENCHMARK(BM_AppendToGrow);

void BM_TrimAndIsSame(benchmark::State& state) {
  CQorStr s("   MinuteInterval   ");
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.IsSame("minuteinterval"));
  }
}
BENCHMARK(BM_TrimAndIsSame);

void BM_FindInLongText(benchmark::State& state) {
  CQorStr s(std::string_view(std::string(2000, 'a') + "Location: x"));
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.Find("location:"));
  }
}
BENCHMARK(BM_FindInLongText);

void BM_SplitOffPath(benchmark::State& state) {
  CQorStr token;
  for (auto _ : state) {
    CQorStr path("C:\\Program Files\\ServerSuite\\bin\\Server.exe");
    while (path.Length() > 0) path.SplitOff('\\', token);
    benchmark::DoNotOptimize(token.GetBuffer());
  }
}
BENCHMARK(BM_SplitOffPath);

void BM_EscapeSlashes(benchmark::State& state) {
  CQorStr s("C:\\Program Files\\Qorvex\\Sentinex\\Sentinex.ini");
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.EscapeSlashes());
  }
}
BENCHMARK(BM_EscapeSlashes);

}  // namespace

BENCHMARK_MAIN();

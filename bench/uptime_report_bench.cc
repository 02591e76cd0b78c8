// The uptime report over a year of reports of 100 items (5,000,000 lines, one report per item
// about every 10.5 minutes, with an outage now and then), against reading the same file line by
// line in the same run. Target: the report within 3 times the line-by-line read.
//
//   BM_ReadLinesGetline  std::getline over an ifstream: the plain line-by-line read (the target's
//                        baseline)
//   BM_ReadLinesChunks   the same bytes read in large blocks and split at each newline: the
//                        least any reader must do
//   BM_Report            read both files, build every item's spans and figures, render the table
//   BM_ReportPage        the same, rendering the HTML page

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "log_time.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "uptime_record.h"
#include "uptime_report.h"

namespace {

using namespace snx::report;

constexpr int kItems = 100;
constexpr int kLines = 5'000'000;

class YearOfReports {
 public:
  YearOfReports() {
    std::string pattern = (std::filesystem::temp_directory_path() / "snxbench-XXXXXX").string();
    folder_ = mkdtemp(pattern.data());
    std::FILE* out = std::fopen((folder_ + "/Uptime.log").c_str(), "wb");
    LocalTimeScale scale(snx::platform::Use<snx::platform::Clock>());
    const UnixSeconds start = scale.ToUnix(CivilTime{2025, 1, 1});
    const double step = 365.0 * 86400 / kLines;
    std::string buffer;
    std::uint32_t random = 12345;
    std::string stamp;
    UnixSeconds stamp_second = -1;
    for (int i = 0; i < kLines; ++i) {
      const UnixSeconds t = start + static_cast<UnixSeconds>(i * step);
      if (t != stamp_second) stamp = scale.LogStamp(t), stamp_second = t;
      random = random * 1664525u + 1013904223u;
      const int item = i % kItems;
      const bool down = (random >> 24) < 3;  // about 1 report in 85 is down
      const int type = item < 60 ? 101 : item < 90 ? 102 : 100;
      char line[160];
      const int n = std::snprintf(
          line, sizeof line, "%s (event): %d, %s%d/status, %s\r\r\n", stamp.c_str(), type,
          type == 100 ? "/usr/sbin/worker" : "http://host.example/app", item, down ? "DN" : "UP");
      buffer.append(line, n);
      if (buffer.size() > (1 << 20))
        std::fwrite(buffer.data(), 1, buffer.size(), out), buffer.clear();
    }
    std::fwrite(buffer.data(), 1, buffer.size(), out);
    std::fclose(out);
  }
  ~YearOfReports() { std::filesystem::remove_all(folder_); }
  const std::string& folder() const { return folder_; }
  std::string log() const { return folder_ + "/Uptime.log"; }

 private:
  std::string folder_;
};

const YearOfReports& Year() {
  static const YearOfReports year;
  return year;
}

void BM_ReadLinesGetline(benchmark::State& state) {
  Year();  // made before the clock runs
  for (auto _ : state) {
    std::ifstream in(Year().log(), std::ios::binary);
    std::string line;
    std::size_t lines = 0;
    while (std::getline(in, line)) ++lines;
    benchmark::DoNotOptimize(lines);
    if (lines != kLines) state.SkipWithError("the file is not whole");
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_ReadLinesGetline)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ReadLinesChunks(benchmark::State& state) {
  std::string buffer(1 << 18, '\0');
  Year();
  for (auto _ : state) {
    auto file = snx::platform::Files().Open(Year().log(), "rb");
    std::size_t lines = 0;
    for (std::size_t n; (n = file->Read(buffer.data(), buffer.size())) > 0;) {
      for (const char* p = buffer.data();
           (p = static_cast<const char*>(std::memchr(p, '\n', buffer.data() + n - p))); ++p) {
        ++lines;
      }
    }
    benchmark::DoNotOptimize(lines);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_ReadLinesChunks)->Unit(benchmark::kMillisecond)->MinTime(2.0);

template <bool kPage>
void BM_Report(benchmark::State& state) {
  LocalTimeScale scale(snx::platform::Use<snx::platform::Clock>());
  Year();
  for (auto _ : state) {
    UptimeRecord record;
    std::string why;
    if (!ReadUptimeRecord(snx::platform::Files(), scale, Year().folder(), record, why)) {
      state.SkipWithError(why.c_str());
      return;
    }
    const UnixSeconds now = scale.ToUnix(CivilTime{2026, 1, 1});
    const UptimeReport report = BuildReport(record, {now - 365 * 86400, now}, now);
    const std::string text = kPage ? RenderPage(report, scale) : RenderTable(report, scale);
    benchmark::DoNotOptimize(text.data());
    if (record.reports != kLines || report.rows.size() != kItems) {
      state.SkipWithError("not every report was read");
    }
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK_TEMPLATE(BM_Report, false)
    ->Name("BM_Report")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK_TEMPLATE(BM_Report, true)
    ->Name("BM_ReportPage")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

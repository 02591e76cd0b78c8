// 200 sequential fetches of one loopback page through CGetWebPage::Go against the same 200
// fetches through a bare libcurl easy handle (one handle per fetch, as the fetch uses), in the
// same run and from the same server. Target: our cost within 1.5 times the bare one.

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <string>

#include "../tests/support/loopback_http_server.h"
#include "probes/get_web_page.h"

namespace {

constexpr int kFetches = 200;

snx::test::LoopbackHttpServer& Server() {
  static snx::test::LoopbackHttpServer server([](const std::string&) {
    return snx::test::LoopbackHttpServer::Answer(200, {"Content-Type: text/html"},
                                                 "<html><body>The service is up.</body></html>\n");
  });
  return server;
}

double g_ours_ns = 0;
double g_bare_ns = 0;

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

void BM_CGetWebPageGo(benchmark::State& state) {
  const std::string url = Server().Url("/index.html");
  CGetWebPage page;
  for (auto _ : state) {
    for (int i = 0; i < kFetches; ++i) {
      if (page.Go("D", url) != 0 || !page.IsStatusOk()) {
        state.SkipWithError("fetch failed");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kFetches);
}

void BM_BareLibcurl(benchmark::State& state) {
  const std::string url = Server().Url("/index.html");
  for (auto _ : state) {
    for (int i = 0; i < kFetches; ++i) {
      CURL* h = curl_easy_init();
      curl_easy_setopt(h, CURLOPT_URL, url.c_str());
      curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
      curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
      const CURLcode rc = curl_easy_perform(h);
      long status = 0;
      curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
      curl_easy_cleanup(h);
      if (rc != CURLE_OK || status != 200) {
        state.SkipWithError("bare fetch failed");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kFetches);
}

BENCHMARK(BM_BareLibcurl)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_CGetWebPageGo)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// Keeps the real time of each run to print the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      const double per_iteration_ns =
          run.GetAdjustedRealTime() * (run.time_unit == benchmark::kMillisecond ? 1e6 : 1.0);
      if (run.benchmark_name().find("BM_CGetWebPageGo") == 0) g_ours_ns = per_iteration_ns;
      if (run.benchmark_name().find("BM_BareLibcurl") == 0) g_bare_ns = per_iteration_ns;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (g_ours_ns > 0 && g_bare_ns > 0) {
    const double ratio = g_ours_ns / g_bare_ns;
    std::printf(
        "200 fetches: CGetWebPage::Go %.2f ms, bare libcurl %.2f ms, ratio %.2f (target <= 1.5) "
        "%s\n",
        g_ours_ns / 1e6, g_bare_ns / 1e6, ratio, ratio <= 1.5 ? "MET" : "NOT MET");
  }
  benchmark::Shutdown();
  return 0;
}

// Sequential fetches of one loopback page through CGetWebPage::Go against the same fetches
// through a bare libcurl easy handle (one handle per fetch, as the fetch uses), in the same run
// and from the same server:
// - http: 200 fetches from our loopback server. Target: our cost within 1.5 times the bare one.
// - https: 50 fetches from the tests' TLS peer (Python's ssl, a certificate of a test CA), the
//   bare handle trusting the CA file alone, ours the system's authorities and the CA file and
//   reading the certificate's expiry too. Target: within 1.3 times the bare one.

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <map>
#include <string>

#include "probes/get_web_page.h"
#include "support/loopback_http_server.h"
#include "support/tls_peer.h"

namespace {

constexpr int kFetches = 200;
constexpr int kHttpsFetches = 50;

snx::test::LoopbackHttpServer& Server() {
  static snx::test::LoopbackHttpServer server([](const std::string&) {
    return snx::test::LoopbackHttpServer::Answer(200, {"Content-Type: text/html"},
                                                 "<html><body>The service is up.</body></html>\n");
  });
  return server;
}

snx::test::TlsPeer& Peer() {
  static snx::test::TlsPeer peer({"valid"});
  return peer;
}

std::map<std::string, double> g_ns;  // real time per iteration, by benchmark name

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

void Ours(benchmark::State& state, const std::string& url, int fetches) {
  CGetWebPage page;
  for (auto _ : state) {
    for (int i = 0; i < fetches; ++i) {
      if (page.Go("D", url) != 0 || !page.IsStatusOk()) return state.SkipWithError("failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * fetches);
}

void Bare(benchmark::State& state, const std::string& url, int fetches, const char* ca_file) {
  for (auto _ : state) {
    for (int i = 0; i < fetches; ++i) {
      CURL* h = curl_easy_init();
      curl_easy_setopt(h, CURLOPT_URL, url.c_str());
      curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
      if (ca_file != nullptr) curl_easy_setopt(h, CURLOPT_CAINFO, ca_file);
      curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
      const CURLcode rc = curl_easy_perform(h);
      long status = 0;
      curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
      curl_easy_cleanup(h);
      if (rc != CURLE_OK || status != 200) return state.SkipWithError("bare fetch failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * fetches);
}

void BM_BareLibcurl(benchmark::State& state) {
  Bare(state, Server().Url("/index.html"), kFetches, nullptr);
}
void BM_CGetWebPageGo(benchmark::State& state) {
  Ours(state, Server().Url("/index.html"), kFetches);
}
void BM_BareLibcurlHttps(benchmark::State& state) {
  const std::string ca = snx::test::TlsPeer::CaFile();
  Bare(state, Peer().Url("valid", "/index.html"), kHttpsFetches, ca.c_str());
}
void BM_CGetWebPageGoHttps(benchmark::State& state) {
  CGetWebPage::SetCaFile(snx::test::TlsPeer::CaFile());
  Ours(state, Peer().Url("valid", "/index.html"), kHttpsFetches);
}

BENCHMARK(BM_BareLibcurl)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_CGetWebPageGo)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_BareLibcurlHttps)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_CGetWebPageGoHttps)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// Keeps the real time of each run to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      const std::string name = run.benchmark_name();
      g_ns[name.substr(0, name.find('/'))] =
          run.GetAdjustedRealTime() * (run.time_unit == benchmark::kMillisecond ? 1e6 : 1.0);
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

void PrintRatio(const char* what, const char* ours, const char* bare, double target) {
  if (g_ns[ours] <= 0 || g_ns[bare] <= 0) return;
  const double ratio = g_ns[ours] / g_ns[bare];
  std::printf("%s: CGetWebPage::Go %.2f ms, bare libcurl %.2f ms, ratio %.2f (target <= %.1f) %s\n",
              what, g_ns[ours] / 1e6, g_ns[bare] / 1e6, ratio, target,
              ratio <= target ? "MET" : "NOT MET");
}

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatio("200 fetches", "BM_CGetWebPageGo", "BM_BareLibcurl", 1.5);
  PrintRatio("50 https fetches", "BM_CGetWebPageGoHttps", "BM_BareLibcurlHttps", 1.3);
  benchmark::Shutdown();
  return 0;
}

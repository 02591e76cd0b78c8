// 50 sequential https fetches of one loopback page (a real TLS server, Python's ssl, with a
// certificate of a test CA) through CGetWebPage::Go against the same fetches through a bare
// libcurl easy handle trusting the same CA file, in the same run. Ours also checks the
// certificate against the system's authorities plus the CA file and reads its expiry.
// Target: our cost within 1.3 times the bare one.

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <string>

#include "probes/get_web_page.h"
#include "support/tls_peer.h"

namespace {

constexpr int kFetches = 50;

snx::test::TlsPeer& Peer() {
  static snx::test::TlsPeer peer({"valid"});
  return peer;
}

double g_ours_ns = 0;
double g_bare_ns = 0;

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

void BM_CGetWebPageGoHttps(benchmark::State& state) {
  const std::string url = Peer().Url("valid", "/index.html");
  CGetWebPage::SetCaFile(snx::test::TlsPeer::CaFile());
  CGetWebPage page;
  for (auto _ : state) {
    for (int i = 0; i < kFetches; ++i) {
      if (page.Go("D", url) != 0 || !page.IsStatusOk() || page.CertExpiry() == 0) {
        state.SkipWithError("fetch failed");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kFetches);
}

void BM_BareLibcurlHttps(benchmark::State& state) {
  const std::string url = Peer().Url("valid", "/index.html");
  const std::string ca = snx::test::TlsPeer::CaFile();
  for (auto _ : state) {
    for (int i = 0; i < kFetches; ++i) {
      CURL* h = curl_easy_init();
      curl_easy_setopt(h, CURLOPT_URL, url.c_str());
      curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
      curl_easy_setopt(h, CURLOPT_CAINFO, ca.c_str());
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

BENCHMARK(BM_BareLibcurlHttps)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_CGetWebPageGoHttps)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      const double ns =
          run.GetAdjustedRealTime() * (run.time_unit == benchmark::kMillisecond ? 1e6 : 1.0);
      if (run.benchmark_name().find("BM_CGetWebPageGoHttps") == 0) g_ours_ns = ns;
      if (run.benchmark_name().find("BM_BareLibcurlHttps") == 0) g_bare_ns = ns;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!Peer().Ready()) {
    std::fprintf(stderr, "https_fetch_bench: the TLS peer did not start (openssl, python3)\n");
    return 1;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (g_ours_ns > 0 && g_bare_ns > 0) {
    const double ratio = g_ours_ns / g_bare_ns;
    std::printf(
        "%d https fetches: CGetWebPage::Go %.2f ms, bare libcurl %.2f ms, ratio %.2f "
        "(target <= 1.3) %s\n",
        kFetches, g_ours_ns / 1e6, g_bare_ns / 1e6, ratio, ratio <= 1.3 ? "MET" : "NOT MET");
  }
  benchmark::Shutdown();
  return 0;
}

// One Go cycle over 100 local URLs served on loopback (the whole cycle: Go's start, the local
// pass with its item updates and uptime lines, the service log, the remote pass, the good
// cycle's state save and heartbeat) against 100 bare libcurl fetches of the same pages, in
// the same run. The cycle's pauses (the one after the local pass, the wait between cycles) go
// through a virtual clock: the figures count the cycle's own work without its pauses. They are
// not the CPU target of the service, which is measured on the real snxsvc beside monit.
//
// --instructions: one warm-up and one measured pass of each side, for callgrind to count
// (bench/cycle_instructions.sh prints the instructions per URL and their ratio; target: the
// cycle within 1.3 times the bare fetch).

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "../tests/support/loopback_http_server.h"
#include "components/fake/fake_component_factory.h"
#include "files/all_sets.h"
#include "files/crypto_txtfile.h"
#include "files/log_file.h"
#include "files/ram_file_ro.h"
#include "ops/ops_mngr_thread.h"
#include "ops/ops_owner.h"
#include "platform/fake/capturing_message_sink.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_key_store.h"
#include "platform/fake/fake_launcher.h"
#include "platform/fake/fake_mail_transport.h"
#include "platform/fake/fake_power.h"
#include "platform/fake/fake_process_list.h"

namespace {

namespace fs = std::filesystem;
using namespace snx::platform;

constexpr int kUrls = 100;

std::atomic<long> g_requests{0};

snx::test::LoopbackHttpServer& Server() {
  static snx::test::LoopbackHttpServer server([](const std::string&) {
    ++g_requests;
    return snx::test::LoopbackHttpServer::Answer(200, {"Content-Type: text/html"},
                                                 "<html><body>The service is up.</body></html>\n");
  });
  return server;
}

std::string PageUrl(int i) { return Server().Url("/page" + std::to_string(i)); }

// A clock whose sleeps are virtual and which ends Go when its first cycle starts to wait.
class CycleClock : public FakeClock {
 public:
  std::function<void()> on_sleep;
  void SleepFor(std::chrono::milliseconds span) override {
    FakeClock::SleepFor(span);
    if (on_sleep) on_sleep();
  }
};

// The operations thread over fakes for everything but the web and the files.
class Rig {
 public:
  Rig()
      : folder_(MakeFolder()),
        clock_install_(clock_),
        process_install_(processes_),
        box_install_(boxes_),
        facilities_{clock_, launcher_, power_, keys_, factory_, mail_} {
    std::vector<std::string> lines = {
        "[KEYS]",      "AdminId=a", "Password=p", "MachineName=HOST", "MinuteInterval=10",
        "RstrSecs=30", "[URLS]"};
    for (int i = 0; i < kUrls; ++i) lines.push_back(PageUrl(i));
    CCryptoTxtfile file;
    file.Initialize(CCryptoTxtfile::kSettingsLineSize);
    file.Create(folder_ + "AutoSet.caf");
    for (const auto& l : lines) file.Append(l);
    file.Close();
    std::ofstream(folder_ + "Sentinex.ini") << "MaxWait=60\n";
    ::chmod((folder_ + "Sentinex.ini").c_str(), 0600);
    log_.SetDirectory(folder_);
    log_.Open("SNXSVC");
    g_pLogFile = &log_;
    image_.Initialize(folder_, CAllSets::kSettingsFileName);
    settings_.SetProgramDirectory(folder_);
    settings_.SetSettingsImage(&image_);
    settings_.ReInitialize();
    owner_.SetSettings(&settings_);
    owner_.SetProgramDirectory(folder_);
    owner_.InitializeCommandEvent();
    thread_ = std::make_unique<COpsMngrThread>(owner_, facilities_);
    thread_->Initialize();
    clock_.on_sleep = [this] {
      if (owner_.ReadAction() == "Go MODE: waiting for next test :") {
        owner_.m_bGo = false;
        thread_->SetCommand(SNX_STOP);
      }
    };
  }
  ~Rig() {
    thread_.reset();
    g_pLogFile = nullptr;
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  // One Go run of one cycle; true when every local URL was good.
  bool Cycle() {
    owner_.m_bGo = true;
    thread_->SetCommand(SNX_GO);
    thread_->Go();
    return thread_->LocalUrlsOk();
  }

 private:
  static std::string MakeFolder() {
    std::string pattern = (fs::temp_directory_path() / "snxbench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return "/tmp/";
    return pattern + "/";
  }
  std::string folder_;
  CycleClock clock_;
  ScopedInstall<Clock> clock_install_;
  FakeProcessList processes_;
  ScopedInstall<ProcessList> process_install_;
  CapturingMessageSink boxes_;
  ScopedInstall<MessageSink> box_install_;
  FakeLauncher launcher_;
  FakePower power_;
  FakeKeyStore keys_;
  FakeComponentFactory factory_{&keys_};
  FakeMailTransport mail_;
  COpsFacilities facilities_;
  CLogFile log_;
  CRamFileRO image_;
  CAllSets settings_;
  COpsOwner owner_;
  std::unique_ptr<COpsMngrThread> thread_;
};

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

bool BareFetches() {
  for (int i = 0; i < kUrls; ++i) {
    CURL* h = curl_easy_init();
    const std::string url = PageUrl(i);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
    const CURLcode rc = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(h);
    if (rc != CURLE_OK || status != 200) return false;
  }
  return true;
}

double g_ours_ns = 0;
double g_bare_ns = 0;

void BM_BareLibcurl100(benchmark::State& state) {
  for (auto _ : state) {
    if (!BareFetches()) return state.SkipWithError("bare fetch failed");
  }
}

void BM_GoCycle100Urls(benchmark::State& state) {
  Rig rig;
  for (auto _ : state) {
    if (!rig.Cycle()) return state.SkipWithError("a local URL failed");
  }
}

BENCHMARK(BM_BareLibcurl100)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_GoCycle100Urls)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      const double ns =
          run.GetAdjustedRealTime() * (run.time_unit == benchmark::kMillisecond ? 1e6 : 1.0);
      if (run.benchmark_name().find("BM_GoCycle100Urls") == 0) g_ours_ns = ns;
      if (run.benchmark_name().find("BM_BareLibcurl100") == 0) g_bare_ns = ns;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

// The measured halves of --instructions: callgrind collects inside each of them alone
// (bench/cycle_instructions.sh). Kept out of line so that their names stay in the profile.
[[gnu::noinline]] bool MeasuredBareFetches() { return BareFetches(); }
[[gnu::noinline]] bool MeasuredCycle(Rig& rig) { return rig.Cycle(); }

// One warm-up of each side, then one measured pass of each.
int InstructionsMode() {
  Rig rig;
  if (!BareFetches() || !rig.Cycle()) return 1;
  const bool bare = MeasuredBareFetches();
  const bool cycle = MeasuredCycle(rig);
  std::printf("bare fetches %s, cycle %s\n", bare ? "good" : "FAILED", cycle ? "good" : "FAILED");
  return bare && cycle ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The log's lock file and the key store of this run are its own.
  const std::string root =
      (fs::temp_directory_path() / ("snxbench-root-" + std::to_string(getpid()))).string();
  fs::create_directories(root);
  setenv("SNX_ROOT", root.c_str(), 1);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  if (argc == 2 && std::string_view(argv[1]) == "--instructions") {
    const int rc = InstructionsMode();
    std::error_code ec;
    fs::remove_all(root, ec);
    return rc;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (g_ours_ns > 0 && g_bare_ns > 0) {
    const double ratio = g_ours_ns / g_bare_ns;
    std::printf(
        "100 URLs: one Go cycle's work without its pauses (virtual clock) %.2f ms, 100 bare "
        "libcurl fetches %.2f ms, ratio %.2f (wall time; the deterministic figure is "
        "bench/cycle_instructions.sh)\n",
        g_ours_ns / 1e6, g_bare_ns / 1e6, ratio);
  }
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}

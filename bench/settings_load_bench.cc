// Loading a settings file of 5,000 lines: deciphering it into the settings image and reading
// every key into the settings model, as the service does at start. Target: within 5 times the
// time of reading the same file's bytes, both measured in the same run (BM_LoadVsReadBytes
// reports the ratio as the counter "load_per_read"; "load_per_1by1_read" compares the load with
// reading the bytes one at a time through the file stream).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files/all_sets.h"
#include "files/ram_file_ro.h"
#include "platform/file_system.h"

namespace {

constexpr int kLines = 5000;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "snxbench-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A settings file as a large installation might hold it: the keys first, then long lists of
// local and remote URLs, programs and addresses.
std::vector<std::string> SettingsLines() {
  std::vector<std::string> lines = {
      "[KEYS]",
      "RestartsB4Reboot=3",
      "AdminId=Administrator",
      "MachineName=WEBSRV01",
      "DomainName=EXAMPLE",
      "Password=correct horse battery staple",
      "UseIni=1",
      "MinuteInterval=10",
      "RstrSecs=120",
      "LogEvents=T",
      "GOS=0",
      "PAck=1",
      "MsgDown=The web server is down.",
      "MsgUp=The web server is up again.",
      "SmtpServer=127.0.0.1",
      "EmailBodyDown=The watchdog found the server down and restarts it.",
      "EmailBodyUp=The server answers again.",
      "EmailSubject=Server up",
      "EmailSubjectDn=Server down",
      "EmailFrom=watchdog@example.com",
      "EmailUrl=http://127.0.0.1/ping",
      "EmailEnabled=1",
      "Sensitivity=5",
      "WATCH=1",
      "SvrStatus=Up"};
  for (int i = 1; i <= 6; ++i) {
    const std::string n = std::to_string(i);
    lines.push_back("PNum" + n + "=+1 555 0100 " + n);
    lines.push_back("PName" + n + "=Operator " + n);
    lines.push_back("PE" + n + "=1");
  }
  const char* sections[] = {"[URLS]", "[RURLS]", "[STOPS]", "[PROGS]", "[EMAILS]"};
  int section = -1;
  for (int i = 0; static_cast<int>(lines.size()) < kLines; ++i) {
    if (i % 1000 == 0 && section < 4) lines.push_back(sections[++section]);
    const std::string n = std::to_string(i);
    switch (section) {
      case 0:
        lines.push_back("http://127.0.0.1/shop/catalogue/item.aspx?id=" + n + "&view=full");
        break;
      case 1:
        lines.push_back("http://www.example.com/status/region" + n + "/health-check.html");
        break;
      case 2:
        lines.push_back("C:\\Program Files\\Shop\\bin\\worker" + n + ".exe");
        break;
      case 3:
        lines.push_back("\"C:\\Program Files\\Shop\\bin\\worker" + n + ".exe\" -service -port " +
                        n);
        break;
      default:
        lines.push_back("operator" + n + "@example.com");
        break;
    }
  }
  return lines;
}

class SettingsFixture {
 public:
  SettingsFixture() {
    CRamFileRO image;
    ok_ = image.InitializeWithLines(folder_.path(), CAllSets::kSettingsFileName, SettingsLines()) &&
          image.SaveToFile();
    path_ = folder_.path() + "/AutoSet.caf";
  }
  bool ok() const { return ok_; }
  const std::string& folder() const { return folder_.path(); }
  const std::string& path() const { return path_; }

 private:
  TempFolder folder_;
  std::string path_;
  bool ok_ = false;
};

// Reads the file's bytes as plainly as the file system allows, in 64 KiB blocks.
std::size_t ReadBytes(const std::string& path) {
  static std::vector<char> buffer(64 * 1024);
  auto file = snx::platform::Files().Open(path, "rb");
  std::size_t total = 0;
  if (!file) return 0;
  for (std::size_t n; (n = file->Read(buffer.data(), buffer.size())) > 0;) total += n;
  return total;
}

// Reads the file's bytes one at a time through the stream, as the system's text files read.
std::size_t ReadBytesOneByOne(const std::string& path) {
  auto file = snx::platform::Files().Open(path, "rb");
  std::size_t total = 0;
  if (!file) return 0;
  for (char c; file->ReadChar(c) == snx::platform::ReadResult::kOk;) ++total;
  return total;
}

// The settings load of the service: image and model. The objects are made before and destroyed
// after the load, so that only the load is measured.
struct Settings {
  CRamFileRO image;
  CAllSets model;
  bool Load(const std::string& folder) {
    model.SetProgramDirectory(folder);
    model.SetSettingsImage(&image);
    return image.Initialize(folder, CAllSets::kSettingsFileName) && model.ReInitialize();
  }
};

void BM_ReadBytes(benchmark::State& state) {
  SettingsFixture fixture;
  if (!fixture.ok()) return state.SkipWithError("the settings file could not be written");
  std::size_t bytes = 0;
  for (auto _ : state) benchmark::DoNotOptimize(bytes = ReadBytes(fixture.path()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_ReadBytes);

void BM_LoadSettings(benchmark::State& state) {
  SettingsFixture fixture;
  if (!fixture.ok()) return state.SkipWithError("the settings file could not be written");
  for (auto _ : state) {
    state.PauseTiming();
    auto settings = std::make_unique<Settings>();
    state.ResumeTiming();
    if (!settings->Load(fixture.folder())) return state.SkipWithError("the load failed");
    state.PauseTiming();
    settings.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_LoadSettings);

// Both, one after the other in every iteration, so that the ratio compares like with like.
void BM_LoadVsReadBytes(benchmark::State& state) {
  SettingsFixture fixture;
  if (!fixture.ok()) return state.SkipWithError("the settings file could not be written");
  using Clock = std::chrono::steady_clock;
  Clock::duration read_time{};
  Clock::duration load_time{};
  Clock::duration one_by_one_time{};
  for (auto _ : state) {
    auto settings = std::make_unique<Settings>();
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(ReadBytes(fixture.path()));
    const auto t1 = Clock::now();
    if (!settings->Load(fixture.folder())) return state.SkipWithError("the load failed");
    const auto t2 = Clock::now();
    benchmark::DoNotOptimize(ReadBytesOneByOne(fixture.path()));
    const auto t3 = Clock::now();
    settings.reset();
    read_time += t1 - t0;
    load_time += t2 - t1;
    one_by_one_time += t3 - t2;
  }
  const double n = static_cast<double>(state.iterations());
  const double read_us = std::chrono::duration<double, std::micro>(read_time).count() / n;
  const double load_us = std::chrono::duration<double, std::micro>(load_time).count() / n;
  state.counters["read_us"] = read_us;
  state.counters["load_us"] = load_us;
  state.counters["load_per_read"] = load_us / read_us;
  state.counters["target_met"] = load_us <= 5 * read_us ? 1 : 0;
  // A second yardstick: the same bytes read one at a time through the file stream.
  const double one_by_one_us =
      std::chrono::duration<double, std::micro>(one_by_one_time).count() / n;
  state.counters["read_1by1_us"] = one_by_one_us;
  state.counters["load_per_1by1_read"] = load_us / one_by_one_us;
}
BENCHMARK(BM_LoadVsReadBytes);

}  // namespace

BENCHMARK_MAIN();

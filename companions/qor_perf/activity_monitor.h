#pragma once
// CActivityMonitor: the judgement behind the watcher companion. It holds counter paths, finds
// the processes they name, samples them, and says whether the watched applications work.
//
// The rule (docs/components.md): a stem's process is the one of that stem that started first
// when its counter was added; the stem's input and output is that of every process of the
// stem. The applications work when every watched process still runs (a process that ended, or
// whose pid now belongs to another process, fails) and no stem whose input and output can be
// read has gone without a single read or write call for longer than the window of
// threshold x level seconds.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/process_list.h"
#include "platform/process_stats.h"
#include "text/counter_path.h"

class CActivityMonitor {
 public:
  using Clock = std::chrono::steady_clock;
  // Processes of a stem are listed again at most this often (listing reads every process).
  static constexpr std::chrono::seconds kRelistInterval{10};
  // Rates are measured over spans of at least this length.
  static constexpr std::chrono::milliseconds kRateSpan{900};

  CActivityMonitor(snx::platform::ProcessList& processes, snx::platform::ProcessStatsReader& stats);

  // Adds a counter path; true when it is well formed and a process of its stem runs. Adding a
  // path again (after a restart) points its stem at the process that runs now.
  bool AddCounter(std::string_view path);
  void Clear();
  int CounterCount() const;
  std::string CounterPath(int index) const;
  // The last sampled value of a counter as text ("12.5"); "gone" when its process ended,
  // "n/a" when it cannot be read; "" past the end.
  std::string CounterValue(int index) const;

  // Reads every watched process once.
  void Sample();
  // Samples, then judges with a window of threshold x level seconds (at least 1, at most a
  // day). True when working; otherwise FailureText() says why.
  bool TestWorking(std::int32_t threshold);
  void SetLevel(std::int32_t level);
  std::string FailureText() const;

  static std::chrono::seconds Window(std::int32_t threshold, std::int32_t level);

  // The time source (tests move it on).
  void SetNow(std::function<Clock::time_point()> now) { now_ = std::move(now); }

 private:
  struct Stem {
    std::string name;
    int pid = 0;                    // the watched process
    std::uint64_t start_ticks = 0;  // and its identity
    std::vector<int> members;       // every process of the stem, for input and output
    Clock::time_point listed;       // when `members` was made
    bool gone = false;
    bool io_known = false;
    bool sampled = false;
    double elapsed = 0;
    std::uint64_t bytes = 0, data_ops = 0, other_ops = 0;  // sums over the members
    double rates[3] = {0, 0, 0};        // per second, over the last span of kRateSpan or more
    std::uint64_t base[3] = {0, 0, 0};  // the sums at the start of that span
    Clock::time_point base_time;
    Clock::time_point last_activity;  // the last change of data_ops (or the watch's start)
  };
  struct Counter {
    std::string path;
    std::size_t stem = 0;  // index into stems_
    snx::platform::ProcessCounter kind = snx::platform::ProcessCounter::kElapsedTime;
  };

  // The processes of `stem` now, the first-started first; empty when none runs.
  std::vector<snx::platform::ProcessStats> FindStem(const std::string& stem);
  void SampleStem(Stem& s, Clock::time_point now);
  std::string PathFor(const Stem& s, snx::platform::ProcessCounter kind) const;

  snx::platform::ProcessList& processes_;
  snx::platform::ProcessStatsReader& stats_;
  std::function<Clock::time_point()> now_;
  mutable std::mutex mutex_;
  std::vector<Stem> stems_;
  std::vector<Counter> counters_;
  std::int32_t level_ = 96;
  std::string failure_;
};

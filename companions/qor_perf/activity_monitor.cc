#include "activity_monitor.h"

#include <algorithm>
#include <cstdio>

#include "platform/ascii.h"
#include "platform/launcher.h"

using snx::platform::EqualsNoCase;
using snx::platform::ProcessCounter;
using snx::platform::ProcessStats;

CActivityMonitor::CActivityMonitor(snx::platform::ProcessList& processes,
                                   snx::platform::ProcessStatsReader& stats)
    : processes_(processes), stats_(stats), now_([] { return Clock::now(); }) {}

std::vector<ProcessStats> CActivityMonitor::FindStem(const std::string& stem) {
  std::vector<snx::platform::ProcessInfo> list;
  std::vector<ProcessStats> found;
  if (!processes_.Snapshot(list)) return found;
  for (const auto& p : list) {
    if (!EqualsNoCase(snx::platform::BaseStem(p.base_name), stem)) continue;
    ProcessStats s;
    if (stats_.Read(p.pid, s)) found.push_back(s);
  }
  std::sort(found.begin(), found.end(), [](const ProcessStats& a, const ProcessStats& b) {
    return a.start_ticks != b.start_ticks ? a.start_ticks < b.start_ticks : a.pid < b.pid;
  });
  return found;
}

bool CActivityMonitor::AddCounter(std::string_view path) {
  const auto parsed = snx::platform::ParseCounterPath(path);
  if (!parsed) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const std::vector<ProcessStats> running = FindStem(parsed->stem);
  if (running.empty()) return false;
  auto it = std::find_if(stems_.begin(), stems_.end(),
                         [&](const Stem& s) { return EqualsNoCase(s.name, parsed->stem); });
  if (it == stems_.end()) {
    stems_.push_back(Stem{});
    it = stems_.end() - 1;
    it->name = parsed->stem;
  }
  const auto now = now_();
  Stem& s = *it;
  if (s.pid != running.front().pid || s.start_ticks != running.front().start_ticks || s.gone) {
    s.pid = running.front().pid;
    s.start_ticks = running.front().start_ticks;
    s.gone = false;
    s.sampled = false;
    s.last_activity = now;
  }
  s.members.clear();
  for (const auto& r : running) s.members.push_back(r.pid);
  s.listed = now;
  SampleStem(s, now);
  const std::size_t index = static_cast<std::size_t>(it - stems_.begin());
  const bool known = std::any_of(counters_.begin(), counters_.end(),
                                 [&](const Counter& c) { return EqualsNoCase(c.path, path); });
  if (!known) counters_.push_back({std::string(path), index, parsed->counter});
  return true;
}

void CActivityMonitor::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  stems_.clear();
  counters_.clear();
  failure_.clear();
}

int CActivityMonitor::CounterCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(counters_.size());
}

std::string CActivityMonitor::CounterPath(int index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || index >= static_cast<int>(counters_.size())) return "";
  return counters_[static_cast<std::size_t>(index)].path;
}

std::string CActivityMonitor::CounterValue(int index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || index >= static_cast<int>(counters_.size())) return "";
  const Counter& c = counters_[static_cast<std::size_t>(index)];
  const Stem& s = stems_[c.stem];
  if (s.gone) return "gone";
  double value = s.elapsed;
  if (c.kind != ProcessCounter::kElapsedTime) {
    if (!s.io_known && c.kind != ProcessCounter::kIoOtherOpsPerSec) return "n/a";
    value = s.rates[static_cast<int>(c.kind) - 1];
  }
  char text[48];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

void CActivityMonitor::SampleStem(Stem& s, Clock::time_point now) {
  ProcessStats own;
  if (!stats_.Read(s.pid, own) || own.start_ticks != s.start_ticks) {
    s.gone = true;
    return;
  }
  s.elapsed = own.elapsed_seconds;
  if (now - s.listed >= kRelistInterval) {
    const std::vector<ProcessStats> running = FindStem(s.name);
    s.members.assign(1, s.pid);
    for (const auto& r : running) {
      if (r.pid != s.pid) s.members.push_back(r.pid);
    }
    s.listed = now;
  }
  std::uint64_t bytes = 0, data_ops = 0, other_ops = 0;
  bool io_known = false;
  for (const int pid : s.members) {
    ProcessStats m;
    if (pid == s.pid) {
      m = own;
    } else if (!stats_.Read(pid, m)) {
      continue;
    }
    io_known = io_known || m.io_known;
    bytes += m.data_bytes;
    data_ops += m.data_operations;
    other_ops += m.other_operations;
  }
  const std::uint64_t sums[3] = {bytes, data_ops, other_ops};
  if (!s.sampled) {
    std::copy(sums, sums + 3, s.base);
    s.base_time = now;
  } else {
    if (data_ops != s.data_ops) s.last_activity = now;
    if (now - s.base_time >= kRateSpan) {
      const double seconds = std::chrono::duration<double>(now - s.base_time).count();
      for (int i = 0; i < 3; ++i) {
        s.rates[i] = sums[i] >= s.base[i] ? (sums[i] - s.base[i]) / seconds : 0.0;
        s.base[i] = sums[i];
      }
      s.base_time = now;
    }
  }
  s.io_known = io_known;
  s.bytes = bytes;
  s.data_ops = data_ops;
  s.other_ops = other_ops;
  s.sampled = true;
}

void CActivityMonitor::Sample() {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto now = now_();
  for (Stem& s : stems_) {
    if (!s.gone) SampleStem(s, now);
  }
}

std::chrono::seconds CActivityMonitor::Window(std::int32_t threshold, std::int32_t level) {
  const std::int64_t seconds = static_cast<std::int64_t>(threshold) * level;
  return std::chrono::seconds(std::clamp<std::int64_t>(seconds, 1, 24 * 60 * 60));
}

void CActivityMonitor::SetLevel(std::int32_t level) {
  std::lock_guard<std::mutex> lock(mutex_);
  level_ = level;
}

std::string CActivityMonitor::PathFor(const Stem& s, ProcessCounter kind) const {
  const Counter* any = nullptr;
  for (const Counter& c : counters_) {
    if (&stems_[c.stem] != &s) continue;
    if (c.kind == kind) return c.path;
    if (any == nullptr) any = &c;
  }
  return any != nullptr ? any->path : snx::platform::BuildCounterPath(".", s.name, kind);
}

bool CActivityMonitor::TestWorking(std::int32_t threshold) {
  Sample();
  std::lock_guard<std::mutex> lock(mutex_);
  const auto now = now_();
  const auto window = Window(threshold, level_);
  for (const Stem& s : stems_) {
    char detail[160];
    if (s.gone) {
      std::snprintf(detail, sizeof detail, " failed: process %d is no longer running.", s.pid);
      failure_ = PathFor(s, ProcessCounter::kElapsedTime) + detail;
      return false;
    }
    const auto quiet = std::chrono::duration_cast<std::chrono::seconds>(now - s.last_activity);
    if (s.io_known && quiet > window) {
      std::snprintf(detail, sizeof detail,
                    " failed: no read or write for %lld s, longer than the window of %lld s.",
                    static_cast<long long>(quiet.count()), static_cast<long long>(window.count()));
      failure_ = PathFor(s, ProcessCounter::kIoDataOpsPerSec) + detail;
      return false;
    }
  }
  failure_.clear();
  return true;
}

std::string CActivityMonitor::FailureText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

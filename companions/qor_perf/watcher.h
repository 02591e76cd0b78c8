#pragma once
// CWatcher: the "QorPerf.Watcher" object. It serves IWatcher over a CActivityMonitor and
// samples the watched processes once a second on a thread of its own (which sleeps while
// nothing is watched).

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "activity_monitor.h"
#include "components/component_object.h"
#include "components/watcher_interface.h"

class CWatcher final : public snx::platform::ComObject<snx::platform::IWatcher> {
 public:
  using HRESULT = snx::platform::HRESULT;
  using Variant = snx::platform::Variant;

  CWatcher(snx::platform::ProcessList& processes, snx::platform::ProcessStatsReader& stats,
           std::chrono::milliseconds sample_every = std::chrono::seconds(1));

  HRESULT Configure(Variant* folder, std::int32_t* ready) override;
  HRESULT ClearCounters(std::int32_t* done) override;
  HRESULT GetCounterCount(std::int32_t* count) override;
  HRESULT SampleNow(std::int32_t* done) override;
  HRESULT AddCounter(Variant* path, std::int32_t* accepted) override;
  HRESULT GetCounterPath(Variant* index, Variant* path) override;
  HRESULT GetCounterValue(Variant* index, Variant* value) override;
  HRESULT TestWorking(Variant* threshold, std::int32_t* working) override;
  HRESULT SetLevel(Variant* level) override;
  HRESULT SetCreationCount(Variant* count, std::int32_t* done) override;
  HRESULT GetText(Variant* text) override;

  CActivityMonitor& Monitor() { return monitor_; }

 private:
  ~CWatcher() override;
  void SampleLoop(std::chrono::milliseconds every);

  CActivityMonitor monitor_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool counter_added_ = false;  // wakes the sampler out of its unwatched sleep
  std::string folder_;
  std::int32_t creation_count_ = 0;
  std::thread sampler_;
};

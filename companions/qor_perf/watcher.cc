#include "watcher.h"

using snx::platform::E_INVALIDARG;
using snx::platform::E_POINTER;
using snx::platform::S_OK;

namespace {
constexpr std::int32_t kYes = -1;
constexpr std::int32_t kNo = 0;
// The sampler's wait while no counter is watched.
constexpr std::chrono::minutes kUnwatchedWait{1};
}  // namespace

CWatcher::CWatcher(snx::platform::ProcessList& processes, snx::platform::ProcessStatsReader& stats,
                   std::chrono::milliseconds every)
    : monitor_(processes, stats) {
  sampler_ = std::thread([this, every] { SampleLoop(every); });
}

CWatcher::~CWatcher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (sampler_.joinable()) sampler_.join();
}

// With nothing to watch the thread sleeps until a counter is added (or a long bound passes),
// rather than wake each `every` for nothing.
void CWatcher::SampleLoop(std::chrono::milliseconds every) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    const bool watching = monitor_.CounterCount() > 0;
    const bool woken = wake_.wait_for(lock, watching ? every : kUnwatchedWait,
                                      [this] { return stopping_ || counter_added_; });
    counter_added_ = false;
    if (woken || !watching) continue;
    lock.unlock();
    monitor_.Sample();
    lock.lock();
  }
}

CWatcher::HRESULT CWatcher::Configure(Variant* folder, std::int32_t* ready) {
  if (ready == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  folder_ = folder != nullptr ? folder->TextValue() : "";
  *ready = sampler_.joinable() ? kYes : kNo;
  return S_OK;
}

CWatcher::HRESULT CWatcher::ClearCounters(std::int32_t* done) {
  monitor_.Clear();
  if (done != nullptr) *done = kYes;
  return S_OK;
}

CWatcher::HRESULT CWatcher::GetCounterCount(std::int32_t* count) {
  if (count == nullptr) return E_POINTER;
  *count = monitor_.CounterCount();
  return S_OK;
}

CWatcher::HRESULT CWatcher::SampleNow(std::int32_t* done) {
  monitor_.Sample();
  if (done != nullptr) *done = kYes;
  return S_OK;
}

CWatcher::HRESULT CWatcher::AddCounter(Variant* path, std::int32_t* accepted) {
  if (accepted == nullptr) return E_POINTER;
  *accepted =
      path != nullptr && path->IsText() && monitor_.AddCounter(path->TextValue()) ? kYes : kNo;
  if (*accepted == kYes) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      counter_added_ = true;
    }
    wake_.notify_all();
  }
  return S_OK;
}

CWatcher::HRESULT CWatcher::GetCounterPath(Variant* index, Variant* path) {
  if (path == nullptr) return E_POINTER;
  const auto i = index != nullptr ? index->AsInt() : std::nullopt;
  *path = Variant::Text(i ? monitor_.CounterPath(*i) : "");
  return i ? S_OK : E_INVALIDARG;
}

CWatcher::HRESULT CWatcher::GetCounterValue(Variant* index, Variant* value) {
  if (value == nullptr) return E_POINTER;
  const auto i = index != nullptr ? index->AsInt() : std::nullopt;
  *value = Variant::Text(i ? monitor_.CounterValue(*i) : "");
  return i ? S_OK : E_INVALIDARG;
}

CWatcher::HRESULT CWatcher::TestWorking(Variant* threshold, std::int32_t* working) {
  if (working == nullptr) return E_POINTER;
  const auto t = threshold != nullptr ? threshold->AsInt() : std::nullopt;
  if (!t) {
    *working = kNo;
    return E_INVALIDARG;
  }
  *working = monitor_.TestWorking(*t) ? kYes : kNo;
  return S_OK;
}

CWatcher::HRESULT CWatcher::SetLevel(Variant* level) {
  const auto l = level != nullptr ? level->AsInt() : std::nullopt;
  if (!l) return E_INVALIDARG;
  monitor_.SetLevel(*l);
  return S_OK;
}

CWatcher::HRESULT CWatcher::SetCreationCount(Variant* count, std::int32_t* done) {
  const auto c = count != nullptr ? count->AsInt() : std::nullopt;
  if (c) {
    std::lock_guard<std::mutex> lock(mutex_);
    creation_count_ = *c;
  }
  if (done != nullptr) *done = c ? kYes : kNo;
  return c ? S_OK : E_INVALIDARG;
}

CWatcher::HRESULT CWatcher::GetText(Variant* text) {
  if (text == nullptr) return E_POINTER;
  *text = Variant::Text(monitor_.FailureText());
  return S_OK;
}

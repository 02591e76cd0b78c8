#include "pulse.h"

using snx::platform::E_INVALIDARG;
using snx::platform::E_POINTER;
using snx::platform::S_OK;

namespace {
constexpr std::int32_t kYes = -1;
constexpr std::int32_t kNo = 0;
}  // namespace

void CPulse::Record(std::string why, std::string report) {
  text_ = std::move(why);
  report_ = std::move(report);
}

CPulse::HRESULT CPulse::Beat(std::int32_t* alive) {
  if (alive == nullptr) return E_POINTER;
  *alive = kYes;
  return S_OK;
}

CPulse::HRESULT CPulse::Configure(Variant* folder, std::int32_t* ready) {
  if (ready == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  *ready = kNo;
  if (folder == nullptr || !folder->IsText() || folder->TextValue().empty()) {
    Record("no install folder given", "not configured");
    return E_INVALIDARG;
  }
  folder_ = folder->TextValue();
  // Joined with "Beat.txt" as the watchdog joins it.
  if (folder_.back() != '/' && folder_.back() != '\\') folder_ += '/';
  *ready = kYes;
  return S_OK;
}

CPulse::HRESULT CPulse::TestHeartbeat(Variant* max_age_seconds, std::int32_t* fresh) {
  if (fresh == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  *fresh = kNo;
  const auto max_age = max_age_seconds != nullptr ? max_age_seconds->AsInt() : std::nullopt;
  if (!max_age || *max_age < 0) {
    Record("the most seconds allowed must be a number of 0 or more", "not tested");
    return E_INVALIDARG;
  }
  if (folder_.empty()) {
    Record("not configured with the install folder", "not tested");
    return S_OK;
  }
  HeartbeatCheck check = heartbeat_.Test(folder_, *max_age);
  *fresh = check.fresh ? kYes : kNo;
  Record(std::move(check.why), std::move(check.report));
  return S_OK;
}

CPulse::HRESULT CPulse::Push(Variant* url, std::int32_t* answered) {
  if (answered == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  *answered = kNo;
  if (url == nullptr || !url->IsText() || url->TextValue().empty()) {
    Record("no URL given", "not pushed");
    return E_INVALIDARG;
  }
  PushOutcome outcome = push_.Push(url->TextValue());
  *answered = outcome.ok ? kYes : kNo;
  Record(std::move(outcome.why), std::move(outcome.report));
  return S_OK;
}

CPulse::HRESULT CPulse::GetText(Variant* text) {
  if (text == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  *text = Variant::Text(text_);
  return S_OK;
}

CPulse::HRESULT CPulse::GetReport(Variant* text) {
  if (text == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  *text = Variant::Text(report_);
  return S_OK;
}

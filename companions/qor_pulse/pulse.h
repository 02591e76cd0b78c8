#pragma once
// CPulse: the "QorPulse.Pulse" object. It serves IPulse over a CHeartbeat and a CPulsePush.

#include <mutex>
#include <string>

#include "components/component_object.h"
#include "components/pulse_interface.h"
#include "heartbeat.h"
#include "pulse_push.h"

class CPulse final : public snx::platform::ComObject<snx::platform::IPulse> {
 public:
  using HRESULT = snx::platform::HRESULT;
  using Variant = snx::platform::Variant;

  CPulse(snx::platform::Clock& clock, snx::platform::HttpClient& http)
      : heartbeat_(clock), push_(http, clock) {}

  HRESULT Beat(std::int32_t* alive) override;
  HRESULT Configure(Variant* folder, std::int32_t* ready) override;
  HRESULT TestHeartbeat(Variant* max_age_seconds, std::int32_t* fresh) override;
  HRESULT Push(Variant* url, std::int32_t* answered) override;
  HRESULT GetText(Variant* text) override;
  HRESULT GetReport(Variant* text) override;

 private:
  ~CPulse() override = default;
  void Record(std::string why, std::string report);

  CHeartbeat heartbeat_;
  CPulsePush push_;
  std::mutex mutex_;
  std::string folder_;
  std::string text_;
  std::string report_;
};

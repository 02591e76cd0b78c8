#pragma once
// The facilities the operations thread and its collaborators work with, passed in by
// reference (the service's wiring gives the real ones, tests give fakes). The web page fetch
// and the process list are leaf facilities the probes reach themselves (Use<F>()).

#include <chrono>

#include "platform/minute_length.h"

namespace snx::platform {
class Clock;
class ComponentFactory;
class KeyStore;
class Launcher;
class MailTransport;
class Power;
}  // namespace snx::platform

struct COpsFacilities {
  snx::platform::Clock& clock;
  snx::platform::Launcher& launcher;
  snx::platform::Power& power;
  snx::platform::KeyStore& keys;
  snx::platform::ComponentFactory& components;
  snx::platform::MailTransport& mail;
  // One minute of MinuteInterval (SNX_MINUTE_SECONDS in the real wiring).
  std::chrono::milliseconds minute = snx::platform::kStandardMinute;
};

#pragma once
// CActor: the assurance companion "QorAssure.Actor", a dead man's switch. Configure gives it a
// program (the watchdog gives "Iisreset.exe": the web-server reset), two switches and a
// time-out; BeginPhase arms a timer of that time-out and EndPhase disarms it. A phase that runs
// past its time-out makes the actor run the program, from a thread of its own, so a watchdog
// whose operations thread hangs mid-phase still resets the web server. Every action and its
// outcome go to the actor's log, "QorAssure.log" in its folder.
//
// The switches: the first turns the action on (off: an overrun is only logged); the second
// repeats the action after every further time-out of the same phase (off: once per phase).
// The answers: Configure -1 when the set-up was accepted; BeginPhase -1 when the timer is
// armed; EndPhase -1 when a phase was open and ended within its time-out.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "companion_log.h"
#include "components/actor_interface.h"
#include "components/component_object.h"
#include "platform/clock.h"
#include "platform/launcher.h"

class CActor final : public snx::platform::ComObject<snx::platform::IActor> {
 public:
  using HRESULT = snx::platform::HRESULT;
  using Variant = snx::platform::Variant;

  static constexpr const char* kLogName = "QorAssure.log";
  static constexpr std::int32_t kMaxTimeOut = 24 * 3600 * 1000;  // a day, in milliseconds
  static constexpr std::size_t kMaxProgram = 1024;
  // Longest wait for the program; a program still running then is left to finish.
  static constexpr std::chrono::seconds kProgramBound{300};

  // `folder` (a POSIX path ending in "/") holds the log.
  CActor(snx::platform::Launcher& launcher, snx::platform::Clock& clock, std::string folder);

  HRESULT Configure(Variant* program, Variant* first_switch, Variant* second_switch,
                    Variant* timeout_ms, std::int32_t* accepted) override;
  HRESULT BeginPhase(std::int32_t* answer) override;
  HRESULT EndPhase(std::int32_t* answer) override;

  // How often the program has been run (for tests and the log).
  int Actions() const;

 private:
  ~CActor() override;
  void Watch();

  snx::platform::Launcher& launcher_;
  snx::platform::Clock& clock_;
  CCompanionLog log_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string program_;  // "" until configured
  bool act_ = false;
  bool repeat_ = false;
  std::chrono::milliseconds timeout_{0};
  bool armed_ = false;
  bool overran_ = false;
  snx::platform::Clock::MonoTime deadline_{};
  long phase_ = 0;
  long generation_ = 0;  // changes at every call, so the watching thread looks again
  int actions_ = 0;
  bool quit_ = false;
  std::thread watcher_;
};

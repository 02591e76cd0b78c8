#include "actor.h"

#include "platform/visible_text.h"

using snx::platform::E_POINTER;
using snx::platform::HRESULT;
using snx::platform::LaunchOutcome;
using snx::platform::S_OK;
using snx::platform::Variant;

namespace {
constexpr std::int32_t kYes = -1;
constexpr std::int32_t kNo = 0;
// The watching thread's wait while no phase is open; any call wakes it at once.
constexpr std::chrono::hours kIdleWait{1};

HRESULT Answer(std::int32_t* out, bool yes) {
  if (out == nullptr) return E_POINTER;
  *out = yes ? kYes : kNo;
  return S_OK;
}

std::optional<std::int32_t> IntOf(const Variant* v) {
  return v != nullptr ? v->AsInt() : std::nullopt;
}
}  // namespace

CActor::CActor(snx::platform::Launcher& launcher, snx::platform::Clock& clock, std::string folder)
    : launcher_(launcher), clock_(clock), log_(clock) {
  if (!folder.empty()) log_.SetPath(folder + kLogName);
  watcher_ = std::thread([this] { Watch(); });
}

CActor::~CActor() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    ++generation_;
  }
  changed_.notify_all();
  watcher_.join();
}

int CActor::Actions() const {
  std::lock_guard lock(mutex_);
  return actions_;
}

HRESULT CActor::Configure(Variant* program, Variant* first_switch, Variant* second_switch,
                          Variant* timeout_ms, std::int32_t* accepted) {
  if (accepted == nullptr) return E_POINTER;
  const std::string text = program != nullptr ? program->TextValue() : std::string();
  const auto act = IntOf(first_switch);
  const auto repeat = IntOf(second_switch);
  const auto timeout = IntOf(timeout_ms);
  const bool good = !text.empty() && text.size() <= kMaxProgram &&
                    snx::platform::IsVisibleText(text) && act && repeat && timeout &&
                    *timeout > 0 && *timeout <= kMaxTimeOut;
  if (!good) {
    log_.Write("set-up refused: program \"" + text.substr(0, kMaxProgram) + "\", time-out " +
               (timeout ? std::to_string(*timeout) + " ms" : std::string("missing")));
    return Answer(accepted, false);
  }
  {
    std::lock_guard lock(mutex_);
    program_ = text;
    act_ = *act != 0;
    repeat_ = *repeat != 0;
    timeout_ = std::chrono::milliseconds(*timeout);
    ++generation_;
  }
  changed_.notify_all();
  log_.Write("ready: a phase longer than " + std::to_string(*timeout) + " ms " +
             (*act != 0 ? "runs \"" + text + "\"" : std::string("is only logged")) +
             (*repeat != 0 ? ", again after every further time-out" : ", once per phase"));
  return Answer(accepted, true);
}

HRESULT CActor::BeginPhase(std::int32_t* answer) {
  bool armed = false;
  {
    std::lock_guard lock(mutex_);
    if (!program_.empty()) {
      armed_ = armed = true;
      overran_ = false;
      deadline_ = clock_.MonoNow() + timeout_;
      ++phase_;
      ++generation_;
    }
  }
  changed_.notify_all();
  return Answer(answer, armed);
}

HRESULT CActor::EndPhase(std::int32_t* answer) {
  bool in_time = false;
  bool overran = false;
  long phase = 0;
  {
    std::lock_guard lock(mutex_);
    in_time = armed_ && !overran_;
    overran = armed_ && overran_;
    phase = phase_;
    armed_ = false;
    ++generation_;
  }
  changed_.notify_all();
  if (overran) log_.Write("phase " + std::to_string(phase) + " ended after its time-out");
  return Answer(answer, in_time);
}

void CActor::Watch() {
  std::unique_lock lock(mutex_);
  while (!quit_) {
    const long seen = generation_;
    const auto woken = [&] { return quit_ || generation_ != seen; };
    const bool waiting = armed_ && (!overran_ || repeat_);
    const auto now = clock_.MonoNow();
    if (!waiting || now < deadline_) {
      const auto left = waiting ? std::chrono::ceil<std::chrono::milliseconds>(deadline_ - now)
                                : std::chrono::milliseconds(kIdleWait);
      clock_.WaitFor(changed_, lock, left, woken);
      continue;
    }
    // The phase has overrun its time-out.
    overran_ = true;
    deadline_ = now + timeout_;
    const long phase = phase_;
    const std::string program = program_;
    const bool act = act_;
    const auto timeout = timeout_;
    if (act) ++actions_;
    lock.unlock();
    std::string line = "phase " + std::to_string(phase) + " overran its time-out of " +
                       std::to_string(timeout.count()) + " ms";
    if (!act) {
      log_.Write(line + "; acting is switched off");
    } else {
      log_.Write(line + "; running \"" + program + "\"");
      snx::platform::LaunchRequest request;
      request.command_line = program;
      request.window = snx::platform::LaunchWindow::kHidden;
      request.max_wait = kProgramBound;
      request.stop = [this] {
        std::lock_guard guard(mutex_);
        return quit_;
      };
      const auto r = launcher_.Run(request);
      std::string outcome = r.outcome == LaunchOutcome::kExited
                                ? "exited with " + std::to_string(r.exit_code)
                                : std::string(LaunchOutcomeName(r.outcome));
      if (!r.Ran() && !r.detail.empty()) outcome += ": " + r.detail;
      log_.Write("\"" + program + "\" " + outcome);
    }
    lock.lock();
  }
}

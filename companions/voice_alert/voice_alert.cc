#include "voice_alert.h"

#include <algorithm>

#include "platform/file_system.h"
#include "platform/file_trust.h"
#include "platform/path_map.h"
#include "platform/runnable_file.h"
#include "platform/visible_text.h"

using snx::platform::E_POINTER;
using snx::platform::HRESULT;
using snx::platform::kCallDelivered;
using snx::platform::kCallInProgress;
using snx::platform::LaunchOutcome;
using snx::platform::LaunchResult;
using snx::platform::S_OK;
using snx::platform::Variant;

namespace {
constexpr std::int32_t kYes = -1;
constexpr std::int32_t kNo = 0;

HRESULT Answer(std::int32_t* out, std::int32_t value) {
  if (out == nullptr) return E_POINTER;
  *out = value;
  return S_OK;
}

std::string TextOf(const Variant* v) { return v != nullptr ? v->TextValue() : std::string(); }

// The text up to its first NUL (the form a C string would take), cut to `limit` bytes.
std::string Bounded(std::string text, std::size_t limit) {
  text.resize(std::min({text.size(), text.find('\0'), limit}));
  return text;
}

// How a finished dial command is told in the phone log.
std::string OutcomeText(const LaunchResult& r) {
  switch (r.outcome) {
    case LaunchOutcome::kExited:
      return (r.exit_code == 0 ? "delivered (exit 0)"
                               : "not delivered (exit " + std::to_string(r.exit_code) + ")");
    case LaunchOutcome::kTimedOut:
      return "not delivered (still running after its time limit)";
    case LaunchOutcome::kStopped:
      return "not delivered (calls ended by the watchdog)";
    default:
      return std::string("not delivered (not started: ") + LaunchOutcomeName(r.outcome) + ": " +
             r.detail + ")";
  }
}
// Why the dial command of `folder` (a POSIX path ending in "/") cannot be used; "" when it can.
// It runs as root, so it must come from a file no one else can change.
std::string DialCommandProblem(const std::string& folder) {
  const std::string path = folder + CVoiceAlert::kDialCommand;
  if (folder.empty() || !snx::platform::IsRunnableFile(path)) {
    return std::string("no executable ") + CVoiceAlert::kDialCommand + " in " +
           (folder.empty() ? std::string("(no folder given)") : folder);
  }
  const std::string why = snx::platform::UntrustedFileReason(path);
  return why.empty() ? why : path + " " + why + ": it is not run";
}
}  // namespace

CVoiceAlert::CVoiceAlert(snx::platform::Launcher& launcher, snx::platform::Clock& clock)
    : launcher_(launcher), log_(clock) {}

CVoiceAlert::~CVoiceAlert() { EndCalls(); }

bool CVoiceAlert::AcceptableNumber(std::string_view number) {
  return !number.empty() && number.size() <= kMaxNumberLength && number.front() != '-' &&
         snx::platform::IsVisibleText(number) &&
         number.find_first_not_of(' ') != std::string_view::npos;
}

HRESULT CVoiceAlert::Configure(Variant* folder, std::int32_t* result) {
  if (result == nullptr) return E_POINTER;
  std::string text = Bounded(TextOf(folder), 4096);
  std::string posix = text.empty() ? std::string() : snx::platform::ToPosixPath(text);
  if (!posix.empty() && posix.back() != '/') posix.push_back('/');
  const bool busy = state_ == kCallInProgress;
  const std::string problem = busy ? std::string() : DialCommandProblem(posix);
  const bool good = !busy && problem.empty();
  if (!posix.empty() && !busy) log_.SetPath(posix + kPhoneLog);
  {
    std::lock_guard lock(mutex_);
    if (!busy) folder_ = good ? posix : std::string();
  }
  if (good) {
    log_.Write("ready: calls go through " + posix + kDialCommand);
  } else if (busy) {
    log_.Write("set-up refused: calls are running");
  } else {
    log_.Write("not ready: " + problem);
  }
  return Answer(result, good ? kYes : kNo);
}

HRESULT CVoiceAlert::SetAcknowledge(Variant* flag, std::int32_t* result) {
  const auto value = flag != nullptr ? flag->AsInt() : std::nullopt;
  if (value) {
    std::lock_guard lock(mutex_);
    acknowledge_ = *value != 0;
  }
  return Answer(result, value ? kYes : kNo);
}

HRESULT CVoiceAlert::CheckReady(std::int32_t* result) {
  std::lock_guard lock(mutex_);
  const bool ready = !folder_.empty() && callees_.empty() && state_ != kCallInProgress;
  return Answer(result, ready ? kYes : kNo);
}

HRESULT CVoiceAlert::AddPhoneAddress(Variant* name, Variant* number, std::int32_t* result) {
  if (result == nullptr) return E_POINTER;
  const std::string n = TextOf(number);
  const std::string who = Bounded(TextOf(name), kMaxNameLength);
  std::lock_guard lock(mutex_);
  const bool good = !folder_.empty() && AcceptableNumber(n) && callees_.size() < kMaxNumbers;
  if (good) {
    callees_.push_back({who, n});
  } else if (!folder_.empty()) {
    log_.Write("number refused for " + who + ": \"" + Bounded(n, 256) + "\"");
  }
  return Answer(result, good ? kYes : kNo);
}

HRESULT CVoiceAlert::SetMessage(Variant* message) {
  std::lock_guard lock(mutex_);
  message_ = Bounded(TextOf(message), kMaxMessageLength);
  return S_OK;
}

HRESULT CVoiceAlert::SetMessageType(Variant* type_text, std::int32_t* value) {
  std::lock_guard lock(mutex_);
  type_text_ = Bounded(TextOf(type_text), 256);
  return value != nullptr ? Answer(value, kYes) : S_OK;
}

HRESULT CVoiceAlert::Reserved7(std::int32_t*) { return snx::platform::E_NOTIMPL; }
HRESULT CVoiceAlert::Reserved8(std::int32_t*) { return snx::platform::E_NOTIMPL; }

HRESULT CVoiceAlert::SendAlerts(std::int32_t* result) {
  if (result == nullptr) return E_POINTER;
  Batch batch;
  {
    std::lock_guard lock(mutex_);
    if (folder_.empty() || callees_.empty() || state_ == kCallInProgress) {
      log_.Write(folder_.empty()    ? "calls refused: not ready"
                 : callees_.empty() ? "calls refused: no number was given"
                                    : "calls refused: calls are running");
      return Answer(result, kNo);
    }
    batch = {folder_, std::move(callees_), message_, type_text_, acknowledge_};
    callees_.clear();
    state_ = kCallInProgress;
  }
  // The thread of the previous calls has finished (the state said so); collect it.
  if (calls_.joinable()) calls_.join();
  cancel_ = false;
  calls_ = std::thread([this, b = std::move(batch)]() mutable { RunCalls(std::move(b)); });
  return Answer(result, kYes);
}

HRESULT CVoiceAlert::GetCallState(std::int32_t* state) { return Answer(state, state_); }

HRESULT CVoiceAlert::ResetCallState(std::int32_t*, std::int32_t* state) {
  EndCalls();
  state_ = kIdle;
  return Answer(state, state_);
}

HRESULT CVoiceAlert::GetStatus(std::int32_t* code, std::int32_t* value) {
  if (code == nullptr) return E_POINTER;
  std::string folder;
  {
    std::lock_guard lock(mutex_);
    folder = folder_;
  }
  bool yes = false;
  switch (*code) {
    case kStatusDialCommand:
      yes = !folder.empty() && DialCommandProblem(folder).empty();
      break;
    case kStatusSpoken:
      yes = spoken_;
      break;
    case kStatusAllDelivered:
      yes = state_ == kCallDelivered;
      break;
    case kStatusConfigured:
      yes = !folder.empty();
      break;
    default:
      break;
  }
  return Answer(value, yes ? kYes : kNo);
}

void CVoiceAlert::EndCalls() {
  cancel_ = true;
  if (calls_.joinable()) calls_.join();
}

LaunchResult CVoiceAlert::RunArgv(std::vector<std::string> argv, std::chrono::milliseconds bound) {
  snx::platform::LaunchRequest request;
  request.command_line = argv.front();
  request.argv = std::move(argv);
  request.window = snx::platform::LaunchWindow::kHidden;
  request.wait = true;
  request.max_wait = bound;
  request.stop = [this] { return cancel_.load(); };
  request.trusted_only = true;
  return launcher_.Run(request);
}

std::string CVoiceAlert::Speak(const std::string& folder, const std::string& message) {
  spoken_ = false;
  if (message.empty()) return {};
  const std::string text_path = folder + kMessageText;
  const std::string wav_path = folder + kMessageWav;
  auto& files = snx::platform::Files();
  files.Delete(wav_path);
  {
    auto file = files.Open(text_path, "w+b", 0644);
    if (!file || !file->Write(message) || !file->Close()) return {};
  }
  const LaunchResult r = RunArgv({"espeak-ng", "-f", text_path, "-w", wav_path}, kSpeechBound);
  files.Delete(text_path);
  if (!r.ExitedWith(0) || !files.Exists(wav_path)) {
    if (r.outcome != LaunchOutcome::kNotFound) {
      log_.Write(std::string("message not spoken: espeak-ng ") + OutcomeText(r));
    }
    return {};
  }
  spoken_ = true;
  return wav_path;
}

void CVoiceAlert::RunCalls(Batch batch) {
  const std::string wav = Speak(batch.folder, batch.message);
  bool all_delivered = true;
  const std::size_t count = batch.callees.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Callee& c = batch.callees[i];
    LaunchResult r;
    if (cancel_) {
      r.outcome = LaunchOutcome::kStopped;
    } else {
      std::vector<std::string> argv = {batch.folder + kDialCommand, c.number, c.name, batch.message,
                                       batch.acknowledge ? "1" : "0"};
      if (!wav.empty()) argv.push_back(wav);
      r = RunArgv(std::move(argv), kCallBound);
    }
    all_delivered = all_delivered && r.ExitedWith(0);
    log_.Write("call " + std::to_string(i + 1) + "/" + std::to_string(count) + " to " + c.name +
               " at " + c.number + " [" + batch.type_text + "] ack " +
               (batch.acknowledge ? "1" : "0") + ": " + OutcomeText(r) + ": \"" + batch.message +
               "\"");
  }
  state_ = all_delivered ? kCallDelivered : kCallNotDelivered;
}

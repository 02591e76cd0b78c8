#include "platform/fake/fake_launcher.h"

#include "platform/ascii.h"

namespace snx::platform {

void FakeLauncher::Script(std::string_view prefix, LaunchResult result, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_.push_back({std::string(prefix), std::move(result), times});
}

void FakeLauncher::SetDefault(LaunchResult result) {
  std::lock_guard<std::mutex> lock(mutex_);
  default_ = std::move(result);
}

void FakeLauncher::OnRun(std::function<void(const LaunchRequest&)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

std::vector<FakeLauncher::Call> FakeLauncher::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<std::string> FakeLauncher::CommandLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> lines;
  for (const auto& c : calls_) lines.push_back(c.command_line);
  return lines;
}

void FakeLauncher::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
}

LaunchResult FakeLauncher::Run(const LaunchRequest& request) {
  std::function<void(const LaunchRequest&)> hook;
  LaunchResult result;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({request.command_line, request.window, request.wait, request.max_wait,
                      request.trusted_only});
    hook = hook_;
    bool found = false;
    for (auto it = scripts_.begin(); it != scripts_.end(); ++it) {
      const std::string& p = it->prefix;
      if (request.command_line.size() < p.size() ||
          !EqualsNoCase(std::string_view(request.command_line).substr(0, p.size()), p)) {
        continue;
      }
      result = it->result;
      if (it->times > 0 && --it->times == 0) scripts_.erase(it);
      found = true;
      break;
    }
    if (!found) {
      if (default_) {
        result = *default_;
      } else {
        result.outcome = request.wait ? LaunchOutcome::kExited : LaunchOutcome::kStarted;
        result.exit_code = request.wait ? 0 : -1;
      }
    }
  }
  if (hook) hook(request);
  return result;
}

}  // namespace snx::platform

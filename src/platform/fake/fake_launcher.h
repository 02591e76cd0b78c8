#pragma once
// A launcher for tests: records every request and answers with scripted results. Nothing is
// started.

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/launcher.h"

namespace snx::platform {

class FakeLauncher : public Launcher {
 public:
  struct Call {
    std::string command_line;
    LaunchWindow window = LaunchWindow::kNormal;
    bool wait = true;
    std::chrono::milliseconds max_wait{0};
    bool trusted_only = false;
  };

  // Requests whose command line starts with `prefix` (compared without case) get `result`,
  // the first matching script wins. `times` < 0: for ever; else that many requests.
  void Script(std::string_view prefix, LaunchResult result, int times = -1);
  // The answer when no script matches: kExited with code 0 for a wait, kStarted otherwise.
  void SetDefault(LaunchResult result);
  // Called for every request before it is answered (e.g. to create a file a real program
  // would create).
  void OnRun(std::function<void(const LaunchRequest&)> hook);

  std::vector<Call> Calls() const;
  std::vector<std::string> CommandLines() const;
  void ClearCalls();

  LaunchResult Run(const LaunchRequest& request) override;

 private:
  struct Scripted {
    std::string prefix;
    LaunchResult result;
    int times = -1;
  };
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
  std::deque<Scripted> scripts_;
  std::optional<LaunchResult> default_;
  std::function<void(const LaunchRequest&)> hook_;
};

}  // namespace snx::platform

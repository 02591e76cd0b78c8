#pragma once
// A process list for tests: the processes are whatever the test says.

#include <string_view>
#include <vector>

#include "platform/process_list.h"

namespace snx::platform {

class FakeProcessList : public ProcessList {
 public:
  // Adds a process; the base name is taken from the path as the real list does ("\" and "/"
  // both separate, so Windows-style paths can be used too).
  void Add(int pid, std::string_view executable_path);
  void Clear() { processes_.clear(); }
  void SetFailing(bool failing) { failing_ = failing; }

  bool Snapshot(std::vector<ProcessInfo>& out) override;

 private:
  std::vector<ProcessInfo> processes_;
  bool failing_ = false;
};

}  // namespace snx::platform

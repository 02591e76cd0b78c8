#include "platform/fake/fake_process_list.h"

#include <algorithm>
#include <string>

namespace snx::platform {

void FakeProcessList::Add(int pid, std::string_view executable_path) {
  ProcessInfo info;
  info.pid = pid;
  info.executable_path = std::string(executable_path);
  const std::size_t cut = executable_path.find_last_of("\\/");
  info.base_name = std::string(cut == std::string_view::npos ? executable_path
                                                             : executable_path.substr(cut + 1));
  processes_.push_back(std::move(info));
}

bool FakeProcessList::Snapshot(std::vector<ProcessInfo>& out) {
  out.clear();
  if (failing_) return false;
  out = processes_;
  // Kept in the order added: tests decide the order the records come in.
  return true;
}

}  // namespace snx::platform

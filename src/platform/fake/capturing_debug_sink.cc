#include "platform/fake/capturing_debug_sink.h"

namespace snx::platform {

void CapturingDebugSink::Write(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  texts_.emplace_back(text);
}

std::vector<std::string> CapturingDebugSink::texts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return texts_;
}

bool CapturingDebugSink::Contains(std::string_view part) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& t : texts_) {
    if (t.find(part) != std::string::npos) return true;
  }
  return false;
}

void CapturingDebugSink::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  texts_.clear();
}

}  // namespace snx::platform

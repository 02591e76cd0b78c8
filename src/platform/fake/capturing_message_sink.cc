#include "platform/fake/capturing_message_sink.h"

namespace snx::platform {

void CapturingMessageSink::Show(std::string_view caption, std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  boxes_.push_back({std::string(caption), std::string(text)});
}

std::vector<CapturingMessageSink::Box> CapturingMessageSink::boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

std::size_t CapturingMessageSink::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_.size();
}

bool CapturingMessageSink::HasText(std::string_view text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& b : boxes_) {
    if (b.text == text) return true;
  }
  return false;
}

void CapturingMessageSink::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  boxes_.clear();
}

}  // namespace snx::platform

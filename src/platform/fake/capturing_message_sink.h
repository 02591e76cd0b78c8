#pragma once
// A message sink that keeps every box (caption and text) instead of showing it.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_sink.h"

namespace snx::platform {

class CapturingMessageSink : public MessageSink {
 public:
  struct Box {
    std::string caption;
    std::string text;
  };

  void Show(std::string_view caption, std::string_view text) override;

  std::vector<Box> boxes() const;
  std::size_t count() const;
  // True when some box has this exact text.
  bool HasText(std::string_view text) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;
};

}  // namespace snx::platform

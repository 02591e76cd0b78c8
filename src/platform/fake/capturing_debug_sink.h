#pragma once
// A debug sink that keeps every text, for tests to look at.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/debug_sink.h"

namespace snx::platform {

class CapturingDebugSink : public DebugSink {
 public:
  void Write(std::string_view text) override;

  std::vector<std::string> texts() const;
  // True when some text contains `part`.
  bool Contains(std::string_view part) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

}  // namespace snx::platform

#pragma once
// The debugger output: trace texts that are not log lines (thread start and stop, the log's
// own failures). The real sink writes to stderr when SNX_DEBUG is set and drops them otherwise.

#include <string_view>

#include "platform/installed.h"

namespace snx::platform {

class DebugSink {
 public:
  virtual ~DebugSink() = default;
  virtual void Write(std::string_view text) = 0;
};

template <>
DebugSink& DefaultFacility<DebugSink>();

inline void DebugOutput(std::string_view text) { Use<DebugSink>().Write(text); }

}  // namespace snx::platform

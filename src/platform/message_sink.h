#pragma once
// Message boxes with an OK button. A daemon has no desktop: the real sink never blocks and
// writes the box to stderr and to syslog; the fake keeps them for tests.

#include <string_view>

#include "platform/installed.h"

namespace snx::platform {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Show(std::string_view caption, std::string_view text) = 0;
};

template <>
MessageSink& DefaultFacility<MessageSink>();

inline void MessageBoxOk(std::string_view caption, std::string_view text) {
  Use<MessageSink>().Show(caption, text);
}

}  // namespace snx::platform

#pragma once
// The service executable's command line: the whole line is scanned for "-" or "/"; the text
// after each, to the end of the line, is compared without case with the switches; the first
// match decides. ("snxsvc -regserver", "snxsvc /Service", "snxsvc x -UnregServer".)

#include <string>
#include <string_view>

namespace snxsvc {

enum class ServiceSwitch {
  kNone,         // decide service or local server, then start
  kRegServer,    // class keys, as a local server only
  kUnregServer,  // remove the class keys and the service
  kService,      // class keys and the service (the systemd unit)
  kForeground,   // run as the service does, in the foreground (containers, demos, tests)
};

ServiceSwitch ParseServiceSwitch(std::string_view command_line);

// The words of argv after the program name, joined by blanks.
std::string JoinArguments(int argc, const char* const* argv);

}  // namespace snxsvc

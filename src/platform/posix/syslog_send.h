#pragma once
// One record to the local syslog (ident "SNXSVC", daemon facility), sent as one non-blocking
// datagram: a stalled syslog daemon must not hold up the caller, so a record that cannot be sent
// at once is dropped. Line breaks in the text become blanks (a record is one line).

#include <string_view>

namespace snx::platform::posix {

inline constexpr int kSyslogNotice = 5;
inline constexpr int kSyslogInfo = 6;

void SendToSyslog(int severity, std::string_view text);

}  // namespace snx::platform::posix

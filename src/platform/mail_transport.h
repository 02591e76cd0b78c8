#pragma once
// The TCP side of sending mail: a host name looked up to an IPv4 address, a connection made
// within a bound, bytes sent and replies received, each within a bound. The SMTP dialogue itself
// is spoken by the alerts; this facility only moves bytes. A send never raises SIGPIPE.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/installed.h"

namespace snx::platform {

struct Received {
  enum class Status { kData, kClosed, kTimedOut, kError };
  Status status = Status::kError;
  std::string bytes;  // what came, when kData (never empty then)
  std::string error;  // what went wrong, when kError
};

class TcpConnection {
 public:
  virtual ~TcpConnection() = default;
  // Sends every byte, waiting at most `timeout` for the peer to take them. False (with the
  // reason in `error`) when the connection failed or the peer took nothing for that long.
  virtual bool Send(std::string_view bytes, std::chrono::milliseconds timeout,
                    std::string& error) = 0;
  // Receives at most `max_bytes` (at least 1), waiting at most `timeout` for the first of them.
  virtual Received Receive(std::size_t max_bytes, std::chrono::milliseconds timeout) = 0;
};

struct Connected {
  std::unique_ptr<TcpConnection> connection;  // null when the connection was not made
  std::string error;                          // why, when it was not
};

class MailTransport {
 public:
  virtual ~MailTransport() = default;
  // The first IPv4 address of a host name (or an address written in dotted form) as dotted
  // text; "" when there is none.
  virtual std::string ResolveIpv4(std::string_view host) = 0;
  // Connects to an IPv4 address in dotted text, giving up after `timeout`.
  virtual Connected Connect(std::string_view address, std::uint16_t port,
                            std::chrono::milliseconds timeout) = 0;
};

template <>
MailTransport& DefaultFacility<MailTransport>();

}  // namespace snx::platform

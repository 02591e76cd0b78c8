#pragma once
// The TCP side of sending mail: a host name looked up to an IPv4 address within a bound, a
// connection made within a bound, bytes sent and replies received, each within a bound, and TLS
// started on the connection (at once, or after the server agreed to STARTTLS) with the server's
// certificate checked. The SMTP dialogue itself is spoken by the alerts; this facility only
// moves bytes. A send never raises SIGPIPE.

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

// How the server's certificate is checked: against the system's CA store and `ca_file` (when
// not empty), and for the name `host` (a host name, or an address in dotted form).
struct TlsOptions {
  std::string host;
  std::string ca_file;
};

struct TlsResult {
  bool ok = false;
  std::string detail;  // the protocol and cipher when ok, else why the handshake failed
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
  // Makes the connection a TLS client's, the whole handshake within `timeout`; every later send
  // and receive is enciphered. After a failure the connection is good for nothing more.
  virtual TlsResult StartTls(const TlsOptions& options, std::chrono::milliseconds timeout) = 0;
};

struct Connected {
  std::unique_ptr<TcpConnection> connection;  // null when the connection was not made
  std::string error;                          // why, when it was not
};

class MailTransport {
 public:
  virtual ~MailTransport() = default;
  // The first IPv4 address of a host name (or an address written in dotted form) as dotted
  // text; "" when there is none or the look-up took longer than `timeout`.
  virtual std::string ResolveIpv4(std::string_view host, std::chrono::milliseconds timeout) = 0;
  // Connects to an IPv4 address in dotted text, giving up after `timeout`.
  virtual Connected Connect(std::string_view address, std::uint16_t port,
                            std::chrono::milliseconds timeout) = 0;
};

template <>
MailTransport& DefaultFacility<MailTransport>();

}  // namespace snx::platform

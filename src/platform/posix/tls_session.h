#pragma once
// OpenSSL on a connected non-blocking socket, as a TLS client: the handshake, sends and
// receives, each waiting in poll() with a bound. A write never raises SIGPIPE.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/mail_transport.h"

namespace snx::platform {

class TlsSession {
 public:
  // Runs the handshake on `fd` (not owned) and checks the server's certificate. Null, with the
  // reason in `result.detail`, when it failed.
  static std::unique_ptr<TlsSession> Start(int fd, const TlsOptions& options,
                                           std::chrono::milliseconds timeout, TlsResult& result);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  bool Send(std::string_view bytes, std::chrono::milliseconds timeout, std::string& error);
  Received Receive(std::size_t max_bytes, std::chrono::milliseconds timeout);

 private:
  struct Handles;
  explicit TlsSession(std::unique_ptr<Handles> handles);
  std::unique_ptr<Handles> handles_;
};

}  // namespace snx::platform

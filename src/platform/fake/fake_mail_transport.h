#pragma once
// A mail transport for tests: a scripted server. It greets each connection, answers the
// commands it knows by their first word, hands out what it says in the pieces it was given,
// and keeps every connect and every text sent so a test can read the dialogue.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fake/fake_clock.h"
#include "platform/mail_transport.h"

namespace snx::platform {

class FakeMailTransport : public MailTransport {
 public:
  struct ConnectCall {
    std::string address;
    std::uint16_t port = 0;
    std::chrono::milliseconds timeout{0};
  };

  // Receives that time out move `clock` on by their time-out, as waiting would.
  explicit FakeMailTransport(FakeClock* clock = nullptr) : clock_(clock) {}

  void AddHost(std::string_view name, std::string_view address);
  // Connects fail with this reason.
  void RefuseConnections(std::string_view reason) { refusal_ = reason; }
  // Said first on every connection; each element is one piece a receive hands out.
  void Greet(std::vector<std::string> pieces) { greeting_ = std::move(pieces); }
  // Said after a text whose first word (up to a blank, ":" or the line end) is `word`,
  // compared without case: "HELO", "MAIL", "RCPT", "DATA", ".", "QUIT".
  void OnCommand(std::string_view word, std::vector<std::string> pieces);
  // When nothing is left to say, receives report a closed connection instead of a time-out.
  void CloseWhenSilent(bool close = true) { close_when_silent_ = close; }
  // Sends after the first `count` fail.
  void FailSendsAfter(int count) { sends_allowed_ = count; }
  // TLS handshakes fail with this reason.
  void FailTls(std::string_view reason) { tls_failure_ = reason; }

  std::string ResolveIpv4(std::string_view host, std::chrono::milliseconds timeout) override;
  Connected Connect(std::string_view address, std::uint16_t port,
                    std::chrono::milliseconds timeout) override;

  const std::vector<ConnectCall>& connects() const { return connects_; }
  const std::vector<std::string>& sent() const { return sent_; }
  std::string SentBytes() const;
  int resolve_count() const { return resolve_count_; }
  // The bound the last look-up was given.
  std::chrono::milliseconds resolve_timeout() const { return resolve_timeout_; }
  // The names TLS was started for, in order; "<tls>" marks the place in sent().
  const std::vector<TlsOptions>& tls_starts() const { return tls_starts_; }
  // The time-outs receives were given.
  const std::vector<std::chrono::milliseconds>& receive_timeouts() const { return timeouts_; }

 private:
  class Connection;
  bool DoSend(std::string_view bytes);
  Received DoReceive(std::size_t max_bytes, std::chrono::milliseconds timeout);

  FakeClock* clock_;
  std::map<std::string, std::string> hosts_;
  std::string refusal_;
  std::vector<std::string> greeting_;
  std::map<std::string, std::vector<std::string>> replies_;
  bool close_when_silent_ = false;
  int sends_allowed_ = -1;
  std::deque<std::string> queued_;
  std::vector<ConnectCall> connects_;
  std::vector<std::string> sent_;
  std::vector<std::chrono::milliseconds> timeouts_;
  int resolve_count_ = 0;
  std::chrono::milliseconds resolve_timeout_{0};
  std::string tls_failure_;
  std::vector<TlsOptions> tls_starts_;
};

}  // namespace snx::platform

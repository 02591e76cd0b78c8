#include "platform/posix/tls_session.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/poll_wait.h"

namespace snx::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

// SIGPIPE held back on this thread while OpenSSL writes to the socket; one raised meanwhile is
// taken off again, so a peer that hung up never ends the process.
class NoSigPipe {
 public:
  NoSigPipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~NoSigPipe() {
    sigset_t pending;
    sigpending(&pending);
    if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
      const timespec none{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  NoSigPipe(const NoSigPipe&) = delete;
  NoSigPipe& operator=(const NoSigPipe&) = delete;

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool was_pending_ = false;
};

std::string OpenSslError(const char* what) {
  const unsigned long code = ERR_get_error();
  if (code == 0) return what;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return std::string(what) + ": " + text;
}

// What to do after an OpenSSL call on a non-blocking socket returned `ret`: 1 wait done, go on;
// 0 the peer closed; -1 failed or timed out (`error` says which).
int AfterCall(SSL* ssl, int ret, SteadyClock::time_point until, std::string& error) {
  const int why = SSL_get_error(ssl, ret);
  short events = 0;
  if (why == SSL_ERROR_WANT_READ) events = POLLIN;
  if (why == SSL_ERROR_WANT_WRITE) events = POLLOUT;
  if (events != 0) {
    const int ready = WaitUntil(SSL_get_fd(ssl), events, until);
    if (ready > 0) return 1;
    error = ready == 0 ? "timed out" : std::strerror(errno);
    return -1;
  }
  if (why == SSL_ERROR_ZERO_RETURN ||
      (why == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 && (errno == 0 || errno == ECONNRESET))) {
    error = "the connection was closed";
    return 0;
  }
  error = why == SSL_ERROR_SYSCALL && errno != 0 ? std::string(std::strerror(errno))
                                                 : OpenSslError("TLS error");
  return -1;
}

bool IsDottedIpv4(const std::string& host) {
  in_addr a{};
  return ::inet_pton(AF_INET, host.c_str(), &a) == 1;
}

}  // namespace

struct TlsSession::Handles {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  ~Handles() {
    if (ssl != nullptr) SSL_free(ssl);
    if (ctx != nullptr) SSL_CTX_free(ctx);
  }
};

TlsSession::TlsSession(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

TlsSession::~TlsSession() {
  // A close_notify, sent if the socket takes it at once; the server needs no more than that.
  NoSigPipe guard;
  SSL_shutdown(handles_->ssl);
}

std::unique_ptr<TlsSession> TlsSession::Start(int fd, const TlsOptions& options,
                                              std::chrono::milliseconds timeout,
                                              TlsResult& result) {
  const auto until = SteadyClock::now() + BoundedWait(timeout);
  ERR_clear_error();
  auto h = std::make_unique<Handles>();
  h->ctx = SSL_CTX_new(TLS_client_method());
  if (h->ctx == nullptr) {
    result.detail = OpenSslError("cannot set TLS up");
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(h->ctx, TLS1_2_VERSION);
  SSL_CTX_set_verify(h->ctx, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_default_verify_paths(h->ctx);
  if (!options.ca_file.empty() &&
      SSL_CTX_load_verify_locations(h->ctx, options.ca_file.c_str(), nullptr) != 1) {
    result.detail = OpenSslError(("cannot read the CA file " + options.ca_file).c_str());
    return nullptr;
  }
  h->ssl = SSL_new(h->ctx);
  if (h->ssl == nullptr || SSL_set_fd(h->ssl, fd) != 1) {
    result.detail = OpenSslError("cannot set TLS up");
    return nullptr;
  }
  X509_VERIFY_PARAM* param = SSL_get0_param(h->ssl);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  const bool named = IsDottedIpv4(options.host)
                         ? X509_VERIFY_PARAM_set1_ip_asc(param, options.host.c_str()) == 1
                         : SSL_set_tlsext_host_name(h->ssl, options.host.c_str()) == 1 &&
                               SSL_set1_host(h->ssl, options.host.c_str()) == 1;
  if (options.host.empty() || !named) {
    result.detail = "cannot check the certificate for the name '" + options.host + "'";
    return nullptr;
  }
  NoSigPipe guard;
  for (;;) {
    const int ret = SSL_connect(h->ssl);
    if (ret == 1) break;
    std::string error;
    if (AfterCall(h->ssl, ret, until, error) == 1) continue;
    const long verified = SSL_get_verify_result(h->ssl);
    result.detail = verified != X509_V_OK ? std::string("certificate not trusted: ") +
                                                X509_verify_cert_error_string(verified)
                                          : error;
    return nullptr;
  }
  result.ok = true;
  result.detail = std::string(SSL_get_version(h->ssl)) + " " + SSL_get_cipher_name(h->ssl);
  return std::unique_ptr<TlsSession>(new TlsSession(std::move(h)));
}

bool TlsSession::Send(std::string_view bytes, std::chrono::milliseconds timeout,
                      std::string& error) {
  NoSigPipe guard;
  while (!bytes.empty()) {
    ERR_clear_error();
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
    const int n = SSL_write(handles_->ssl, bytes.data(), chunk);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (AfterCall(handles_->ssl, n, SteadyClock::now() + BoundedWait(timeout), error) != 1) {
      if (error == "timed out") error = "the peer took nothing in time";
      return false;
    }
  }
  return true;
}

Received TlsSession::Receive(std::size_t max_bytes, std::chrono::milliseconds timeout) {
  const auto until = SteadyClock::now() + BoundedWait(timeout);
  Received r;
  std::string buffer(std::clamp<std::size_t>(max_bytes, 1, 1 << 20), '\0');
  NoSigPipe guard;  // a read may have to write (a renegotiation, a key update)
  for (;;) {
    ERR_clear_error();
    const int n = SSL_read(handles_->ssl, buffer.data(), static_cast<int>(buffer.size()));
    if (n > 0) {
      buffer.resize(static_cast<std::size_t>(n));
      r.status = Received::Status::kData;
      r.bytes = std::move(buffer);
      return r;
    }
    std::string error;
    const int next = AfterCall(handles_->ssl, n, until, error);
    if (next == 1) continue;
    if (next == 0) {
      r.status = Received::Status::kClosed;
    } else if (error == "timed out") {
      r.status = Received::Status::kTimedOut;
    } else {
      r.status = Received::Status::kError;
      r.error = error;
    }
    return r;
  }
}

}  // namespace snx::platform

#pragma once
// One HTTP request on the wire: the web page fetch asks for a page through this facility and
// decides itself what the answer means; the webhooks post their bodies through it. Redirects are
// never followed here, plain http is spoken unless the request asks for https, and every request
// is bounded in time. Over https the server's certificate chain and host name are always checked;
// nothing turns that off.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/installed.h"

namespace snx::platform {

struct HttpRequest {
  std::string method = "GET";
  std::string host;  // a name or an address; an IPv6 address without brackets
  std::uint16_t port = 80;
  // Over TLS, the server's certificate checked against the system's trusted authorities (and
  // those of ca_file).
  bool https = false;
  // A PEM file of further authorities trusted besides the system's ("" none).
  std::string ca_file;
  // https: learn when the server's certificate stops being valid (HttpResult::cert_expiry).
  bool want_cert_expiry = false;
  std::string path = "/";  // the request target as sent: path and query
  // Extra header lines without line ends ("Accept: text/*"); they replace any default of the
  // same name.
  std::vector<std::string> headers;
  // Sent as the request's body (a POST); nothing when empty.
  std::string body;
  // Proxies configured in the environment (http_proxy, no_proxy) are used unless direct.
  bool direct = false;
  // When set, the one proxy to go through ("host:port" or a URL), or none at all when empty;
  // the environment is then not looked at.
  std::optional<std::string> proxy;
  std::chrono::milliseconds connect_timeout{30000};
  std::chrono::milliseconds total_timeout{60000};
  // How much of the body to keep. 0 ends the exchange as soon as the answer's headers are in,
  // as a client that only wants the status does; a longer body is cut and body_cut is set.
  std::size_t max_body_bytes = 0;
  // Reads the answer to its last byte even when no more of the body is kept (the rest is
  // dropped), so that the exchange lasts as long as the whole answer takes to come.
  bool read_to_end = false;
  // Called once the connection to the server stands, before the request is sent.
  std::function<void()> on_connected;
};

struct HttpResult {
  bool answered = false;      // an HTTP answer came; status and headers are valid
  std::uint32_t status = 0;   // the status code of the final answer
  std::string raw_headers;    // status line and header lines of that answer, each ended by CR LF
  std::string body;           // at most max_body_bytes of the body
  bool body_cut = false;      // the body was longer than max_body_bytes
  int error_number = 0;       // the library's error number when the exchange failed
  std::string error_message;  // and its text
  // https: why the server's certificate was refused ("expired", "not yet valid", "host name
  // mismatch", "unknown issuer", "self-signed", or the TLS library's own words); "" when it
  // was not.
  std::string cert_problem;
  // https with want_cert_expiry: when the server's own certificate stops being valid, in
  // seconds since the Unix epoch; 0 when not known.
  std::int64_t cert_expiry = 0;
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Performs one request. A failure to connect, send or receive gives answered == false with
  // the error number and text; an answer of any status is not a failure.
  virtual HttpResult Fetch(const HttpRequest& request) = 0;
};

template <>
HttpClient& DefaultFacility<HttpClient>();

}  // namespace snx::platform

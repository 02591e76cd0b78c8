#pragma once
// One HTTP request on the wire: the web page fetch asks for a page through this facility and
// decides itself what the answer means; the webhooks post their bodies through it. Redirects are
// never followed here, plain http is spoken unless the request asks for https (only the life-sign
// companion does), and every request is bounded in time.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/installed.h"

namespace snx::platform {

struct HttpRequest {
  std::string method = "GET";
  std::string host;  // a name or an address; an IPv6 address without brackets
  std::uint16_t port = 80;
  // Over TLS, the server's certificate checked against the system's trusted authorities.
  bool https = false;
  std::string path = "/";  // the request target as sent: path and query
  // Extra header lines without line ends ("Accept: text/*"); they replace any default of the
  // same name.
  std::vector<std::string> headers;
  // Sent as the request's body (a POST); nothing when empty.
  std::string body;
  // Proxies configured in the environment (http_proxy, no_proxy) are used unless direct.
  bool direct = false;
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

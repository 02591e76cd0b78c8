#pragma once
// An HTTP facility for tests: answers are scripted per server and path, and every request is
// kept so a test can see what was asked for.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_client.h"

namespace snx::platform {

class FakeHttpClient : public HttpClient {
 public:
  // The answer for requests to host:port with that request target. `headers` are extra header
  // lines, each without its line end; the status line and the CR LF ends are added.
  void Answer(std::string_view host, std::uint16_t port, std::string_view path,
              std::uint32_t status, const std::vector<std::string>& headers = {},
              std::string_view body = "");
  // The exact raw header text to give (for answers the helper above cannot build).
  void AnswerRaw(std::string_view host, std::uint16_t port, std::string_view path,
                 std::uint32_t status, std::string_view raw_headers, std::string_view body = "");
  // The request fails with this library error (as a refused connection or a time-out would).
  void Fail(std::string_view host, std::uint16_t port, std::string_view path, int error_number,
            std::string_view message);

  // The answer scripted for host:port with that target, to be adjusted beyond what the helpers
  // above say (a certificate's facts, say); a fresh one fails with error 0.
  HttpResult& Scripted(std::string_view host, std::uint16_t port, std::string_view path) {
    return answers_[Key(host, port, path)];
  }

  // Requests to anything not scripted fail as a refused connection does (error 7).
  HttpResult Fetch(const HttpRequest& request) override;

  // Called with each request as it is made (a test advances its clock here: a slow answer).
  std::function<void(const HttpRequest&)> on_fetch;

  const std::vector<HttpRequest>& requests() const { return requests_; }
  void ClearRequests() { requests_.clear(); }

 private:
  static std::string Key(std::string_view host, std::uint16_t port, std::string_view path);
  std::map<std::string, HttpResult> answers_;
  std::vector<HttpRequest> requests_;
};

}  // namespace snx::platform

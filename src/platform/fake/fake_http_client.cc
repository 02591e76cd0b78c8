#include "platform/fake/fake_http_client.h"

namespace snx::platform {

std::string FakeHttpClient::Key(std::string_view host, std::uint16_t port, std::string_view path) {
  std::string key(host);
  key += ':';
  key += std::to_string(port);
  key += ' ';
  key += path;
  return key;
}

void FakeHttpClient::Answer(std::string_view host, std::uint16_t port, std::string_view path,
                            std::uint32_t status, const std::vector<std::string>& headers,
                            std::string_view body) {
  std::string raw = "HTTP/1.1 " + std::to_string(status) + " Answer\r\n";
  for (const auto& line : headers) raw += line + "\r\n";
  raw += "\r\n";
  AnswerRaw(host, port, path, status, raw, body);
}

void FakeHttpClient::AnswerRaw(std::string_view host, std::uint16_t port, std::string_view path,
                               std::uint32_t status, std::string_view raw_headers,
                               std::string_view body) {
  HttpResult r;
  r.answered = true;
  r.status = status;
  r.raw_headers = std::string(raw_headers);
  r.body = std::string(body);
  answers_[Key(host, port, path)] = std::move(r);
}

void FakeHttpClient::Fail(std::string_view host, std::uint16_t port, std::string_view path,
                          int error_number, std::string_view message) {
  HttpResult r;
  r.error_number = error_number;
  r.error_message = std::string(message);
  answers_[Key(host, port, path)] = std::move(r);
}

HttpResult FakeHttpClient::Fetch(const HttpRequest& request) {
  requests_.push_back(request);
  if (on_fetch) on_fetch(request);
  const auto it = answers_.find(Key(request.host, request.port, request.path));
  if (it == answers_.end()) {
    HttpResult refused;
    refused.error_number = 7;
    refused.error_message = "Failed to connect to " + request.host + " port " +
                            std::to_string(request.port) + ": Connection refused";
    return refused;
  }
  HttpResult r = it->second;
  if (r.answered && request.on_connected) request.on_connected();
  if (r.body.size() > request.max_body_bytes) {
    r.body_cut = request.max_body_bytes > 0;
    r.body.resize(request.max_body_bytes);
  }
  return r;
}

}  // namespace snx::platform

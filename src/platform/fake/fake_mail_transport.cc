#include "platform/fake/fake_mail_transport.h"

#include <algorithm>

#include "platform/ascii.h"

namespace snx::platform {
namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), AsciiUpper);
  return out;
}

std::string FirstWord(std::string_view text) {
  return Upper(text.substr(0, text.find_first_of(" :\r\n")));
}

}  // namespace

class FakeMailTransport::Connection : public TcpConnection {
 public:
  explicit Connection(FakeMailTransport& owner) : owner_(owner) {}
  bool Send(std::string_view bytes, std::chrono::milliseconds, std::string& error) override {
    if (owner_.DoSend(bytes)) return true;
    error = "Broken pipe";
    return false;
  }
  Received Receive(std::size_t max_bytes, std::chrono::milliseconds timeout) override {
    return owner_.DoReceive(max_bytes, timeout);
  }
  TlsResult StartTls(const TlsOptions& options, std::chrono::milliseconds) override {
    owner_.tls_starts_.push_back(options);
    owner_.sent_.emplace_back("<tls>");
    TlsResult r;
    r.ok = owner_.tls_failure_.empty();
    r.detail = r.ok ? "TLSv1.3 FAKE" : owner_.tls_failure_;
    return r;
  }

 private:
  FakeMailTransport& owner_;
};

void FakeMailTransport::AddHost(std::string_view name, std::string_view address) {
  hosts_[Upper(name)] = address;
}

void FakeMailTransport::OnCommand(std::string_view word, std::vector<std::string> pieces) {
  replies_[Upper(word)] = std::move(pieces);
}

std::string FakeMailTransport::ResolveIpv4(std::string_view host,
                                           std::chrono::milliseconds timeout) {
  ++resolve_count_;
  resolve_timeout_ = timeout;
  const auto it = hosts_.find(Upper(host));
  return it == hosts_.end() ? "" : it->second;
}

Connected FakeMailTransport::Connect(std::string_view address, std::uint16_t port,
                                     std::chrono::milliseconds timeout) {
  connects_.push_back({std::string(address), port, timeout});
  Connected c;
  if (!refusal_.empty()) {
    c.error = refusal_;
    return c;
  }
  queued_.assign(greeting_.begin(), greeting_.end());
  c.connection = std::make_unique<Connection>(*this);
  return c;
}

std::string FakeMailTransport::SentBytes() const {
  std::string out;
  for (const auto& s : sent_) out += s;
  return out;
}

bool FakeMailTransport::DoSend(std::string_view bytes) {
  if (sends_allowed_ == 0) return false;
  if (sends_allowed_ > 0) --sends_allowed_;
  sent_.emplace_back(bytes);
  if (const auto it = replies_.find(FirstWord(bytes)); it != replies_.end()) {
    queued_.insert(queued_.end(), it->second.begin(), it->second.end());
  }
  return true;
}

Received FakeMailTransport::DoReceive(std::size_t max_bytes, std::chrono::milliseconds timeout) {
  timeouts_.push_back(timeout);
  Received r;
  if (queued_.empty()) {
    r.status = close_when_silent_ ? Received::Status::kClosed : Received::Status::kTimedOut;
    if (!close_when_silent_ && clock_ != nullptr) clock_->Advance(timeout);
    return r;
  }
  std::string& front = queued_.front();
  r.status = Received::Status::kData;
  r.bytes = front.substr(0, std::max<std::size_t>(max_bytes, 1));
  front.erase(0, r.bytes.size());
  if (front.empty()) queued_.pop_front();
  return r;
}

}  // namespace snx::platform

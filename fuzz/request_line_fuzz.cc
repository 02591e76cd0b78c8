// The command socket's request lines: whatever a peer sends, the answer is one line of the
// protocol (no line break, no control character, within the answer bound), a request that
// parses formats back to the same request, and only a parsed request reaches the object.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "service/command_session.h"
#include "text/control_protocol.h"

namespace {

namespace sp = snx::platform;

// A command object that answers with texts made of the request's own bytes.
class EchoObject : public ISNXSVR {
 public:
  std::string_view echo;
  int calls = 0;
  sp::HRESULT OpsCommand(const sp::VARIANT* command, std::int32_t* result) override {
    ++calls;
    *result = command->IntValue();
    return sp::S_OK;
  }
  sp::HRESULT GetStringResult(const std::int32_t* code, sp::VARIANT* result) override {
    ++calls;
    if (*code % 2 == 0) *result = sp::Variant::Text(std::string(echo));
    return sp::S_OK;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  EchoObject object;
  object.echo = line;
  const std::string answer = AnswerRequestLine(object, line);
  for (const char c : answer) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) std::abort();
  }
  if (answer.size() > sp::kMaxAnswerLine + 8) std::abort();

  const auto request = sp::ParseControlRequest(line);
  if (request.has_value() != (object.calls == 1)) std::abort();
  if (request && sp::ParseControlRequest(sp::FormatControlRequest(*request)) != request) {
    std::abort();
  }
  const sp::ControlAnswer parsed = sp::ParseControlAnswer(answer);
  if (!request && parsed.kind != sp::AnswerKind::kError) std::abort();
  if (request && parsed.kind == sp::AnswerKind::kError) std::abort();
  (void)sp::ParseControlAnswer(line);  // an answer line from a peer, as snxctl reads it
  return 0;
}

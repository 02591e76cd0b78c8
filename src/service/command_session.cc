#include "service/command_session.h"

#include "ops/ops_codes.h"
#include "service/service_module.h"
#include "text/control_protocol.h"

namespace sp = snx::platform;

namespace {

// The Status answer: its lines joined by LF (the session adds the last one).
std::string AnswerStatus(ISNXSVR& object) {
  const std::optional<COpsStatus> status = object.GetStatus();
  if (!status) return sp::AnswerError("no status: the command object is not set up");
  std::string lines = std::string(sp::kStatusHead) + StatusHeadJson(*status) + "\n";
  for (const COpsItemStatus& item : status->items) {
    lines += std::string(sp::kStatusItem) + StatusItemJson(item) + "\n";
  }
  return lines + std::string(sp::kStatusEnd);
}

}  // namespace

std::string AnswerRequestLine(ISNXSVR& object, std::string_view line) {
  if (sp::IsStatusRequest(line)) return AnswerStatus(object);
  std::string why;
  const std::optional<sp::ControlRequest> request = sp::ParseControlRequest(line, &why);
  if (!request) return sp::AnswerError(why);
  if (request->method == sp::ControlMethod::kOpsCommand) {
    // The service manager's own stop is not a client's to send: a client's STOP is 1003.
    if (request->code == SNX_SERVICE_STOP) return sp::AnswerError("unknown command code");
    const sp::VARIANT command = sp::Variant::Int(request->code);
    std::int32_t result = 0;
    object.OpsCommand(&command, &result);
    return sp::AnswerInteger(result);
  }
  // The result starts empty; an unknown code leaves it so.
  sp::VARIANT result;
  object.GetStringResult(&request->code, &result);
  return result.IsText() ? sp::AnswerText(result.TextValue()) : sp::AnswerNone();
}

CCommandSession::CCommandSession(CServiceModule& module)
    : m_Module(module), m_pObject(module.AddObjectRef()) {}

CCommandSession::~CCommandSession() { m_Module.ReleaseObjectRef(); }

std::string CCommandSession::Answer(std::string_view line) {
  if (m_pObject == nullptr) return sp::AnswerError("the command object could not be made");
  return AnswerRequestLine(*m_pObject, line);
}

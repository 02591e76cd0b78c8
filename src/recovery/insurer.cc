#include "recovery/insurer.h"

#include <string>

#include "core/log_writer.h"
#include "platform/debug_sink.h"
#include "platform/visible_text.h"

using snx::platform::Variant;

namespace {
constexpr std::int32_t kYes = -1;
}  // namespace

CInsurer::CInsurer(snx::platform::ComponentFactory& components) : m_Components(components) {}

CInsurer::~CInsurer() { ReleaseInsurer(); }

bool CInsurer::Initialize() {
  m_bInitialized = false;
  SetState(kLive);
  CreateInsurer();
  m_bInitialized = true;
  return true;
}

snx::platform::IActor* CInsurer::CreateInsurer() {
  m_pActor.Reset();
  LogEvent("CInsurer::1");
  // Components need no apartment here; the line tells the debugger the thread is ready.
  snx::platform::DebugOutput("CInsurer::CoInitialize OK in CInsurer\n");
  LogEvent("CInsurer::CPW 2");
  std::string why;
  m_pActor = snx::platform::CreateComponent<snx::platform::IActor>(
      m_Components, snx::platform::CLSID_Actor, &why);
  LogEvent("CInsurer::CPW 3");
  if (!m_pActor) {
    LogError("CInsurer::3");
    if (!why.empty()) LogError("CInsurer::3 " + snx::platform::VisibleText(why));
    LogError("CInsurer::CreateInsurer failed.");
  } else {
    LogEvent("CInsurer::4");
    LogEvent("CInsurer::5");
    Variant program = Variant::Text(kProgram);
    LogEvent("CInsurer::6");
    Variant first = Variant::Bool(true);
    Variant second = Variant::Bool(false);
    Variant timeout = Variant::Int(m_iTimeOut);
    std::int32_t accepted = 0;
    m_pActor->Configure(&program, &first, &second, &timeout, &accepted);
    LogEvent("CInsurer::7");
    if (accepted == kYes) {
      LogEvent("CInsurer::8");
    } else {
      // A component that refuses the set-up is still used for the phases.
      LogError("CInsurer::CreateInsurer failed.");
    }
  }
  LogEvent("CInsurer::CPW done");
  return m_pActor.Get();
}

bool CInsurer::BeginPhase() {
  std::int32_t answer = 0;
  if (m_pActor) m_pActor->BeginPhase(&answer);
  return answer == kYes;
}

bool CInsurer::EndPhase() {
  std::int32_t answer = 0;
  if (m_pActor) m_pActor->EndPhase(&answer);
  return answer == kYes;
}

void CInsurer::ReleaseInsurer() { m_pActor.Reset(); }

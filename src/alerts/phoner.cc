#include "alerts/phoner.h"

#include <string>

#include "core/log_writer.h"
#include "platform/debug_sink.h"
#include "platform/visible_text.h"

using snx::platform::kCallInProgress;
using snx::platform::Variant;

namespace {
constexpr std::int32_t kYes = -1;

std::string Joined(std::string_view a, std::string_view b, std::string_view c = {}) {
  std::string s(a);
  s.append(b).append(c);
  return s;
}
}  // namespace

CPhoner::CPhoner(snx::platform::ComponentFactory& components, snx::platform::Clock& clock)
    : m_Components(components), m_Clock(clock) {}

CPhoner::~CPhoner() { ReleaseVoiceAlert(); }

const char* CPhoner::MessageTypeText(std::int32_t type) {
  switch (type) {
    case PHONE_MSG_APP_UP:
      return "Application is up again.";
    case PHONE_MSG_APP_DOWN:
      return "Application is down.";
    case PHONE_MSG_SERVER_UP:
      return "Server is back up.";
    case PHONE_MSG_SERVER_DOWN:
      return "Server is down.";
    case PHONE_MSG_LOCAL_URL_UP:
      return "Local URL is back up!";
    case PHONE_MSG_LOCAL_URL_DOWN:
      return "Local URL is down.";
    case PHONE_MSG_REMOTE_URL_UP:
      return "Remote URL is back up.";
    case PHONE_MSG_REMOTE_URL_DOWN:
      return "Remote URL is down.";
    default:
      return "";
  }
}

bool CPhoner::Initialize(CAllSets* settings) {
  m_bLive = false;
  m_abStatus[3] = false;
  SetState(kLive);
  m_pSettings = settings;
  if (settings != nullptr) {
    if (m_pVoiceAlert) {
      // Whatever the old component was doing is ended before it is replaced.
      CallState();
      std::int32_t in_progress = kCallInProgress;
      std::int32_t state = 0;
      m_pVoiceAlert->ResetCallState(&in_progress, &state);
      m_Clock.SleepFor(std::chrono::seconds(1));
      CallState();
      m_bLive = ReCreateVoiceAlert();
    } else {
      m_bLive = CreateVoiceAlert() != nullptr;
    }
  }
  if (!m_bLive) LogError("CPhoner::Initialize() failed.");
  return m_bLive;
}

snx::platform::IVoiceAlert* CPhoner::CreateVoiceAlert() {
  m_pVoiceAlert.Reset();
  LogEvent("CPhoner::1");
  // Components need no apartment here; the line tells the debugger the thread is ready.
  snx::platform::DebugOutput("CPhoner::CoInitialize OK in CPhoner\n");
  LogEvent("CPhoner::CPW 2");
  std::string why;
  m_pVoiceAlert = snx::platform::CreateComponent<snx::platform::IVoiceAlert>(
      m_Components, snx::platform::CLSID_VoiceAlert, &why);
  LogEvent("CPhoner::CPW 3");
  bool good = false;
  if (!m_pVoiceAlert) {
    LogError("CPhoner::3");
    if (!why.empty()) LogError(Joined("CPhoner::3 ", snx::platform::VisibleText(why)));
  } else {
    LogEvent("CPhoner::4");
    LogEvent("CPhoner::5");
    Variant folder = Variant::Text(m_sFolder.View());
    LogEvent("CPhoner::6");
    LogEvent(m_sFolder.View());
    std::int32_t result = 0;
    m_pVoiceAlert->Configure(&folder, &result);
    LogEvent("CPhoner::7");
    if (result == kYes) {
      LogEvent("CPhoner::8");
      good = true;
    }
  }
  m_abStatus[3] = good;
  if (!good) {
    LogError("CPhoner::CreateVoiceAlert failed.");
    LogMessage("Sentinex will not work unless you either:");
    LogMessage(" 1) disable the Phone Alerts in you settings, or");
    LogMessage(" 2) fix the config problem. Probably bad SAPI or TAPI.");
  }
  LogEvent("CPhoner::CPW done");
  return m_pVoiceAlert.Get();
}

bool CPhoner::ReCreateVoiceAlert() {
  // Every reference this client holds goes with the old component, so it ends and its calls
  // with it; nothing of it is left behind.
  m_pVoiceAlert.Reset();
  if (CreateVoiceAlert() == nullptr) {
    LogError("CPhoner::ReCreateVoiceAlert failed.");
    return false;
  }
  return true;
}

void CPhoner::ReleaseVoiceAlert() { m_pVoiceAlert.Reset(); }

bool CPhoner::ReadStatus() {
  if (!m_pVoiceAlert) return false;
  for (int i = 0; i < kStatusFlags; ++i) {
    std::int32_t code = kFirstStatusCode + i;
    std::int32_t value = 0;
    m_pVoiceAlert->GetStatus(&code, &value);
    m_abStatus[i] = value == kYes;
  }
  return true;
}

std::int32_t CPhoner::CallState() {
  std::int32_t state = 0;
  if (m_pVoiceAlert) m_pVoiceAlert->GetCallState(&state);
  return state;
}

bool CPhoner::WaitForCallCompletion() {
  if (!m_pVoiceAlert) return true;
  const auto give_up = m_Clock.MonoNow() + kMaxCallWait;
  std::int32_t state = CallState();
  while (state == kCallInProgress) {
    LogEvent("CPhoner::WaitForCallCompletion waits 5 sec.");
    state = CallState();
    for (int i = 0; i < kPollSeconds; ++i) {
      if (StopRequested()) {
        LogError("CPhoner::WaitForCallCompletion() ended by a stop; calls may still run.");
        return false;
      }
      if (m_Clock.MonoNow() >= give_up) {
        LogError("CPhoner::WaitForCallCompletion() gave up after 10 minutes; calls may still run.");
        return false;
      }
      m_Clock.SleepFor(std::chrono::seconds(1));
    }
  }
  return true;
}

bool CPhoner::SetMessageType(std::int32_t type) {
  m_iMessageType = type;
  if (!m_pVoiceAlert) return true;
  WaitForCallCompletion();
  const char* text = MessageTypeText(type);
  LogEvent(Joined("CPhoner::SetMessageType: ", text));
  Variant value = Variant::Text(text);
  std::int32_t out = 0;
  m_pVoiceAlert->SetMessageType(&value, &out);
  return true;
}

bool CPhoner::SetMessage(std::string_view text) {
  LogEvent(Joined("CPhoner::SetMessage ", text));
  if (m_pVoiceAlert) {
    Variant value = Variant::Text(text);
    m_pVoiceAlert->SetMessage(&value);
  }
  return true;
}

bool CPhoner::SetAcknowledge(bool acknowledge) {
  if (!m_pVoiceAlert) return false;
  Variant flag = Variant::Bool(acknowledge);
  std::int32_t result = 0;
  m_pVoiceAlert->SetAcknowledge(&flag, &result);
  return result == kYes;
}

bool CPhoner::CheckReady() {
  if (!m_pVoiceAlert) return false;
  std::int32_t result = 0;
  m_pVoiceAlert->CheckReady(&result);
  return result == kYes;
}

bool CPhoner::AddPhoneAddress(std::string_view number, std::string_view name) {
  LogEvent("CPhoner::AddPhoneAddress 1.");
  LogEvent(Joined("CPhoner::AddPhoneAddress name:", name, Joined(", No: ", number)));
  std::int32_t result = 0;
  if (m_pVoiceAlert) {
    Variant name_value = Variant::Text(name);
    Variant number_value = Variant::Text(number);
    m_pVoiceAlert->AddPhoneAddress(&name_value, &number_value, &result);
  }
  if (result != kYes) {
    LogError("CPhoner::AddPhoneAddress failed.");
    return false;
  }
  return true;
}

bool CPhoner::SendAlerts() {
  LogEvent("CPhoner::SendAlerts() 1.");
  std::int32_t result = 0;
  if (m_pVoiceAlert) m_pVoiceAlert->SendAlerts(&result);
  if (result != kYes) {
    LogError("CPhoner::SendAlerts() failed.");
    return false;
  }
  LogEvent("CPhoner::SendAlerts() succeeded.");
  return true;
}

bool CPhoner::SetUpPhoner() {
  LogEvent("CPhoner::SetUpPhoner() 0.");
  bool good = false;
  if (IsLive() && m_pSettings != nullptr) {
    LogEvent("CPhoner::SetUpPhoner() 1.");
    good = SetAcknowledge(m_pSettings->m_bPAck) && CheckReady();
    for (int i = 0; good && i < CAllSets::kPhoneEntries; ++i) {
      LogEvent(Joined("CPhoner::SetUpPhoner() ", std::to_string(i + 2), "."));
      if (m_pSettings->m_bPE[i]) {
        good = AddPhoneAddress(m_pSettings->m_sPNum[i].View(), m_pSettings->m_sPName[i].View());
      }
    }
  }
  if (!good) {
    LogError("CPhoner::SetUpPhoner() failed.");
    return false;
  }
  LogEvent("CPhoner::SetUpPhoner() 8.");
  LogEvent("CPhoner::SetUpPhoner() succeeded.");
  return true;
}

bool CPhoner::AnyNumberInUse() const {
  if (m_pSettings == nullptr) return false;
  for (bool in_use : m_pSettings->m_bPE) {
    if (in_use) return true;
  }
  return false;
}

bool CPhoner::Send(const char* first_line, std::string_view text, std::int32_t delivered_type,
                   std::string_view delivered_line, const char* failure_line) {
  LogEvent(first_line);
  if (!AnyNumberInUse()) return true;  // nobody to call
  // A wait cut short by a stop leaves the calls running: the set-up then finds the component
  // busy and the send fails instead of piling calls on calls.
  WaitForCallCompletion();
  if (SetUpPhoner() && SetMessage(text) && SendAlerts()) {
    WaitForCallCompletion();
    const std::int32_t state = CallState();
    m_iLastDeliveredType = delivered_type;
    LogMessage(delivered_line);
    if (state == snx::platform::kCallDelivered) return true;
  }
  LogError(failure_line);
  return false;
}

bool CPhoner::SendDownMessage() {
  const std::string_view text = m_pSettings != nullptr ? m_pSettings->m_sMsgDown.View() : "";
  return Send("CPhoner::SendDownMessage() 0.", text, PHONE_MSG_SERVER_DOWN,
              Joined("Delivered Phone Message:  'Server Down: ", text, "'."),
              "CPhoner::SendDownMessage() failed.");
}

bool CPhoner::SendUpMessage() {
  const std::string_view text = m_pSettings != nullptr ? m_pSettings->m_sMsgUp.View() : "";
  return Send("CPhoner::SendUpMessage() 0.", text, PHONE_MSG_SERVER_UP,
              Joined("Delivered Phone Message:  'Server Up: ", text, "'."),
              "CPhoner::SendUpMessage() failed.");
}

bool CPhoner::SendCustomMessage(std::string_view text) {
  if (text.empty()) {
    LogEvent("CPhoner::SendCustomMessage() 0.");
    LogError("CPhoner::SendCustomMessage() failed.");
    return false;
  }
  return Send("CPhoner::SendCustomMessage() 0.", text, m_iMessageType,
              Joined("Delivered Phone Message: '", text, "'."),
              "CPhoner::SendCustomMessage() failed.");
}

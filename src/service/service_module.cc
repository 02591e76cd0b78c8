#include "service/service_module.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "components/component.h"
#include "ops/ops_codes.h"
#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "platform/visible_text.h"
#include "service/command_session.h"
#include "service/service_ids.h"
#include "service/service_switch.h"
#include "service/unit_file.h"
#include "text/control_protocol.h"

namespace sp = snx::platform;
using namespace snxsvc;

namespace {

constexpr std::int32_t kErrorFileNotFound = 2;  // the registry's "not found"
constexpr std::int32_t kErrorFailed = 1;
// The longest wait between two looks at an unchanged status text.
constexpr std::chrono::milliseconds kQuietStatusWait(16'000);

std::string Key(std::string_view a, std::string_view b = {}, std::string_view c = {}) {
  std::string path(a);
  for (std::string_view part : {b, c}) {
    if (part.empty()) continue;
    path.push_back('\\');
    path.append(part);
  }
  return path;
}

std::string AppIdKey() { return Key("AppID", APPID_SNXSVC); }
std::string ClassKey() { return Key("CLSID", CLSID_SNXSVR); }

std::int32_t RegErrorCode(sp::RegResult result) {
  return result == sp::RegResult::kNotFound ? kErrorFileNotFound : kErrorFailed;
}

}  // namespace

void CutToCharacter(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t cut = limit;
  // text[cut] is the first byte left out; when it continues a character, that character
  // starts before the cut and is left out whole. A UTF-8 character has at most 3 such bytes.
  for (int step = 0; step < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80;
       ++step) {
    --cut;
  }
  if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) cut = limit;  // not UTF-8 at all
  text.resize(cut);
}

CServiceModule::CServiceModule(sp::KeyStore& keys, sp::ServiceManager& manager,
                               std::string executable, std::string root, ObjectMaker make)
    : m_Keys(keys),
      m_Manager(manager),
      m_sExecutable(std::move(executable)),
      m_sRoot(std::move(root)),
      m_MakeObject(std::move(make)) {}

CServiceModule::~CServiceModule() {
  std::lock_guard<std::mutex> lock(m_ObjectMutex);
  m_pObject.reset();
}

void CServiceModule::Init() {
  m_sServiceName = std::string(kServiceName);
  m_Status = SERVICE_STOPPED;
  m_iExitCode = 0;
  m_Mode = RunMode::kService;
  if (m_sSocketPath.empty()) m_sSocketPath = sp::ControlSocketPath();
}

int CServiceModule::Main(std::string_view command_line) {
  switch (ParseServiceSwitch(command_line)) {
    case ServiceSwitch::kUnregServer:
      return UnregisterServer();
    case ServiceSwitch::kRegServer:
      return RegisterServer(true, false);
    case ServiceSwitch::kService:
      return RegisterServer(true, true);
    case ServiceSwitch::kForeground:
      m_Mode = RunMode::kForeground;
      Start();
      return m_iExitCode;
    case ServiceSwitch::kNone:
      break;
  }
  sp::HKEY app_ids = nullptr;
  sp::RegResult opened = m_Keys.OpenKey(sp::HKEY_CLASSES_ROOT, "AppID", app_ids);
  if (opened != sp::RegResult::kOk) {
    std::fprintf(stderr, "snxsvc: not registered (run snxsvc -Service or -RegServer first)\n");
    return RegErrorCode(opened);
  }
  sp::HKEY app_id = nullptr;
  opened = m_Keys.OpenKey(app_ids, APPID_SNXSVC, app_id);
  m_Keys.CloseKey(app_ids);
  if (opened != sp::RegResult::kOk) {
    std::fprintf(stderr, "snxsvc: not registered (run snxsvc -Service or -RegServer first)\n");
    return RegErrorCode(opened);
  }
  sp::RegValue local_service;
  const bool as_service =
      m_Keys.QueryValue(app_id, "LocalService", local_service) == sp::RegResult::kOk;
  m_Keys.CloseKey(app_id);
  m_Mode = as_service ? RunMode::kService : RunMode::kLocalServer;
  Start();
  return m_iExitCode;
}

void CServiceModule::Start() {
  // Started from a console rather than by systemd: the local server in the foreground.
  if (m_Mode == RunMode::kService && !m_Manager.StartedByServiceManager()) {
    m_Mode = RunMode::kLocalServer;
  }
  if (m_Mode == RunMode::kLocalServer) {
    Run();
  } else {
    ServiceMain();
  }
}

void CServiceModule::ServiceMain() {
  m_Status = SERVICE_START_PENDING;
  m_Manager.InstallStopSignals();
  ReportStatus(SERVICE_START_PENDING);
  m_iExitCode = 0;
  Run();
  ReportStatus(SERVICE_STOPPED);
  LogSystemEvent("Service stopped");
}

void CServiceModule::Handler(std::int32_t code) {
  switch (code) {
    case SERVICE_CONTROL_STOP: {
      ReportStatus(SERVICE_STOP_PENDING);
      // Stop first: a Go loop then leaves its wait within one slice, and the teardown's kill
      // request finds the thread on its way out instead of waiting out a test cycle. It is the
      // system's stop, not an administrator's: Go mode resumes at the next start.
      std::lock_guard<std::mutex> lock(m_ObjectMutex);
      if (m_pObject != nullptr) {
        const sp::VARIANT stop = sp::Variant::Int(SNX_SERVICE_STOP);
        std::int32_t result = 0;
        m_pObject->OpsCommand(&stop, &result);
      }
      Quit();
      break;
    }
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SHUTDOWN:
      break;
    default:
      LogSystemEvent("Bad service request");
      break;
  }
}

void CServiceModule::ReportStatus(ServiceState state) {
  m_Status = state;
  if (m_Mode != RunMode::kService) return;
  switch (state) {
    case SERVICE_RUNNING:
      m_Manager.Notify("READY=1");
      break;
    case SERVICE_STOP_PENDING:
      m_Manager.Notify("STOPPING=1");
      break;
    case SERVICE_START_PENDING:
      m_Manager.Notify("STATUS=Starting");
      break;
    case SERVICE_STOPPED:
      m_Manager.Notify("STATUS=Stopped");
      break;
  }
}

void CServiceModule::Run() {
  m_Manager.InstallStopSignals();
  m_bQuit = false;
  std::unique_ptr<sp::LineServer> server = sp::MakeUnixLineServer();
  sp::LineServerOptions options;
  options.path = m_sSocketPath;
  options.max_line = sp::kMaxRequestLine;
  options.on_refused = [this](const sp::PeerIdentity& peer) {
    LogSystemEvent("Refused a command connection of uid %u (pid %ld)", peer.uid, peer.pid);
  };
  std::string error;
  if (!server->Start(
          options,
          [this](const sp::PeerIdentity&) { return std::make_unique<CCommandSession>(*this); },
          error)) {
    LogSystemEvent("Command socket not available: %s", error.c_str());
    m_iExitCode = kErrorFailed;
    return;
  }
  // The service stands in for the control program that no logon session starts: it holds a
  // reference of its own, so the watchdog runs (and resumes after a reboot) with no client.
  const bool own_reference = m_Mode != RunMode::kLocalServer;
  if (own_reference) AddObjectRef();
  LogSystemEvent("Service started");
  if (m_Mode == RunMode::kService) ReportStatus(SERVICE_RUNNING);

  // A stop is seen at once (the signal wakes the wait). The wait's end publishes the status
  // text: every second while it changes, every 16 seconds once it stayed the same, so an idle
  // service is not woken each second. The local server also ends when its last client leaves,
  // and looks each second.
  std::chrono::milliseconds wait(1000);
  while (!m_bQuit) {
    if (m_Manager.WaitForStop(wait)) {
      Handler(SERVICE_CONTROL_STOP);
      continue;
    }
    const bool changed = m_Mode == RunMode::kService && PublishStatusText();
    wait = m_Mode == RunMode::kLocalServer || changed ? std::chrono::milliseconds(1000)
                                                      : kQuietStatusWait;
  }
  server->Stop();  // every connection's reference is given back
  if (own_reference) ReleaseObjectRef();
}

bool CServiceModule::PublishStatusText() {
  std::string status;
  {
    std::lock_guard<std::mutex> lock(m_ObjectMutex);
    if (m_pObject == nullptr) return false;
    for (const std::int32_t code : {1012, 1013}) {
      sp::VARIANT text;
      m_pObject->GetStringResult(&code, &text);
      if (text.TextValue().empty() || text.TextValue() == ".") continue;
      if (!status.empty()) status.append(" ");
      status.append(text.TextValue());
    }
  }
  if (status.empty() || status == m_sLastStatus) return false;
  m_sLastStatus = status;
  m_Manager.Notify("STATUS=" + sp::VisibleText(status));
  return true;
}

void CServiceModule::LogSystemEvent(const char* format, ...) {
  // The whole text is formatted first and then cut to the event's bound on a character
  // boundary: a fixed buffer would cut wherever the bytes ran out, mid-character included.
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<std::size_t>(length));
  }
  va_end(again);
  if (length < 0) return;
  CutToCharacter(text, kEventTextSize - 1);
  text = sp::VisibleText(text);
  switch (m_Mode) {
    case RunMode::kService:
      m_Manager.LogEvent(text);
      break;
    case RunMode::kForeground:
      std::fprintf(stderr, "%s: %s\n", m_sServiceName.c_str(), text.c_str());
      break;
    case RunMode::kLocalServer:
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
      break;
  }
}

std::int32_t CServiceModule::Lock() { return ++m_lLockCount; }

std::int32_t CServiceModule::Unlock() {
  const std::int32_t count = --m_lLockCount;
  if (count == 0 && m_Mode == RunMode::kLocalServer) Quit();
  return count;
}

void CServiceModule::Quit() { m_bQuit = true; }

ISNXSVR* CServiceModule::AddObjectRef() {
  std::lock_guard<std::mutex> lock(m_ObjectMutex);
  if (m_pObject == nullptr) m_pObject = m_MakeObject();
  Lock();
  return m_pObject.get();
}

void CServiceModule::ReleaseObjectRef() {
  std::lock_guard<std::mutex> lock(m_ObjectMutex);
  if (m_lLockCount.load() == 1) m_pObject.reset();  // the last reference: the teardown
  Unlock();
}

// ---- registration ------------------------------------------------------------------------

namespace {

bool WriteKey(sp::KeyStore& keys, const std::string& path,
              std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
  sp::HKEY key = nullptr;
  if (keys.CreateKey(sp::HKEY_CLASSES_ROOT, path, key) != sp::RegResult::kOk) return false;
  bool ok = true;
  for (const auto& [name, text] : values) {
    ok = ok && keys.SetValue(key, name, sp::RegValue::String(text)) == sp::RegResult::kOk;
  }
  keys.CloseKey(key);
  return ok;
}

}  // namespace

bool CServiceModule::WriteClassKeys(bool type_library) {
  m_Keys.DeleteTree(sp::HKEY_CLASSES_ROOT, ClassKey());
  const std::string prog(kProgId);
  const std::string versioned(kProgIdVersioned);
  bool ok = WriteKey(m_Keys, versioned, {{"", kClassDescription}}) &&
            WriteKey(m_Keys, Key(versioned, "CLSID"), {{"", CLSID_SNXSVR}}) &&
            WriteKey(m_Keys, prog, {{"", kClassDescription}}) &&
            WriteKey(m_Keys, Key(prog, "CLSID"), {{"", CLSID_SNXSVR}}) &&
            WriteKey(m_Keys, Key(prog, "CurVer"), {{"", kProgIdVersioned}}) &&
            WriteKey(m_Keys, ClassKey(), {{"", kClassDescription}, {"AppID", APPID_SNXSVC}}) &&
            WriteKey(m_Keys, Key(ClassKey(), "ProgID"), {{"", kProgIdVersioned}}) &&
            WriteKey(m_Keys, Key(ClassKey(), "VersionIndependentProgID"), {{"", kProgId}}) &&
            WriteKey(m_Keys, Key(ClassKey(), "Programmable"), {}) &&
            WriteKey(m_Keys, Key(ClassKey(), "LocalServer32"), {{"", m_sExecutable}}) &&
            WriteKey(m_Keys, Key(ClassKey(), "TypeLib"), {{"", LIBID_SNXSVCLib}});
  if (ok && type_library) {
    const std::string lib = Key("TypeLib", LIBID_SNXSVCLib, "1.0");
    ok = WriteKey(m_Keys, lib, {{"", kTypeLibDescription}}) &&
         WriteKey(m_Keys, Key(lib, "0", "linux"), {{"", m_sExecutable}}) &&
         WriteKey(m_Keys, Key("Interface", IID_ISNXSVR), {{"", "ISNXSVR"}}) &&
         WriteKey(m_Keys, Key("Interface", IID_ISNXSVR, "TypeLib"),
                  {{"", LIBID_SNXSVCLib}, {"Version", "1.0"}}) &&
         WriteKey(m_Keys, Key("Interface", DIID__ISNXSVREvents), {{"", "_ISNXSVREvents"}}) &&
         WriteKey(m_Keys, Key("Interface", DIID__ISNXSVREvents, "TypeLib"),
                  {{"", LIBID_SNXSVCLib}, {"Version", "1.0"}});
  }
  return ok;
}

void CServiceModule::RemoveClassKeys() {
  for (const std::string& path : {std::string(kProgId), std::string(kProgIdVersioned), ClassKey(),
                                  Key("TypeLib", LIBID_SNXSVCLib), Key("Interface", IID_ISNXSVR),
                                  Key("Interface", DIID__ISNXSVREvents)}) {
    m_Keys.DeleteTree(sp::HKEY_CLASSES_ROOT, path);
  }
}

std::int32_t CServiceModule::RegisterServer(bool type_library, bool service) {
  Uninstall();  // an earlier service registration goes first
  if (!WriteKey(m_Keys, AppIdKey(), {{"", kServiceName}}) ||
      !WriteKey(m_Keys, Key("AppID", kExecutableName), {{"AppID", APPID_SNXSVC}})) {
    return kErrorFailed;
  }
  sp::HKEY app_id = nullptr;
  const sp::RegResult opened = m_Keys.OpenKey(sp::HKEY_CLASSES_ROOT, AppIdKey(), app_id);
  if (opened != sp::RegResult::kOk) return RegErrorCode(opened);
  m_Keys.DeleteValue(app_id, "LocalService");
  m_Keys.DeleteValue(app_id, "ServiceParameters");
  bool installed = true;
  if (service) {
    const bool written =
        m_Keys.SetValue(app_id, "LocalService", sp::RegValue::String(kServiceName)) ==
            sp::RegResult::kOk &&
        m_Keys.SetValue(app_id, "ServiceParameters", sp::RegValue::String("-Service")) ==
            sp::RegResult::kOk;
    installed = written && Install();
  }
  m_Keys.CloseKey(app_id);
  const bool classes = WriteClassKeys(type_library);
  // A service that could not be installed is a failed registration, whatever the class keys.
  return classes && installed ? 0 : kErrorFailed;
}

std::int32_t CServiceModule::UnregisterServer() {
  m_Keys.DeleteTree(sp::HKEY_CLASSES_ROOT, Key("AppID", kExecutableName));
  sp::HKEY app_id = nullptr;
  if (m_Keys.OpenKey(sp::HKEY_CLASSES_ROOT, AppIdKey(), app_id) == sp::RegResult::kOk) {
    for (const char* name : {"", "LocalService", "ServiceParameters"})
      m_Keys.DeleteValue(app_id, name);
    m_Keys.CloseKey(app_id);
  }
  Uninstall();
  RemoveClassKeys();
  return 0;
}

bool CServiceModule::IsInstalled() { return sp::Files().Exists(UnitFilePath(m_sRoot)); }

bool CServiceModule::Install() {
  if (IsInstalled()) return true;
  const std::string path = UnitFilePath(m_sRoot);
  if (!sp::Files().MakeFolders(path.substr(0, path.rfind('/'))) ||
      !sp::ReplaceFileWith(sp::Files(), path, UnitFileText(m_sExecutable, m_sRoot), 0644)) {
    sp::MessageBoxOk(m_sServiceName, "Couldn't create service");
    return false;
  }
  if (m_Manager.ManagesRoot(m_sRoot) && !m_Manager.Reload()) {
    sp::MessageBoxOk(m_sServiceName, "Couldn't open service manager");
    return false;
  }
  return true;
}

bool CServiceModule::Uninstall() {
  if (!IsInstalled()) return true;
  const bool managed = m_Manager.ManagesRoot(m_sRoot);
  if (managed) m_Manager.StopUnit(kUnitName);
  if (!sp::Files().Delete(UnitFilePath(m_sRoot))) {
    sp::MessageBoxOk(m_sServiceName, "Service could not be deleted");
    return false;
  }
  if (managed) m_Manager.Reload();
  return true;
}

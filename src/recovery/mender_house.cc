// The engine's set-up and housekeeping: the watcher companion, the heartbeat, the auto-run
// value with the unit that brings the service back, the uninstall icon and the companions'
// registration.

#include <string>

#include "components/companion_files.h"
#include "components/component_factory.h"
#include "components/watcher_interface.h"
#include "core/log_writer.h"
#include "files/all_sets.h"
#include "files/log_file.h"
#include "files/txt_file4.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/file_trust.h"
#include "platform/key_store.h"
#include "platform/path_map.h"
#include "platform/privileges.h"
#include "recovery/mender.h"
#include "recovery/mender_owner.h"
#include "recovery/mender_text.h"

using snx::platform::HKEY;
using snx::platform::RegResult;
using snx::platform::RegValue;
using snx::platform::Variant;
using snx::recovery::Cat;

namespace {

// A key opened (or made) for one operation and closed when it goes.
class OpenedKey {
 public:
  OpenedKey(snx::platform::KeyStore& keys, HKEY root, std::string_view path, bool create)
      : keys_(keys) {
    const RegResult r = create ? keys.CreateKey(root, path, key_) : keys.OpenKey(root, path, key_);
    if (r != RegResult::kOk) key_ = nullptr;
  }
  ~OpenedKey() {
    if (key_ != nullptr) keys_.CloseKey(key_);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  HKEY get() const { return key_; }
  bool SetString(std::string_view name, std::string_view text) {
    return key_ != nullptr && keys_.SetValue(key_, name, RegValue::String(text)) == RegResult::kOk;
  }

 private:
  snx::platform::KeyStore& keys_;
  HKEY key_ = nullptr;
};

}  // namespace

bool CMender::Initialize(std::string_view install_folder, CMenderOwner* owner) {
  m_bInitialized = false;
  auto* log_file = dynamic_cast<CLogFile*>(g_pLogFile);
  const bool blank_lines = log_file != nullptr && log_file->BlankLinesEnabled();
  if (log_file != nullptr) log_file->EnableBlankLines(true);
  SetState(kLive);
  m_pOwner = owner;
  if (m_pSettings != nullptr && owner != nullptr) {
    LogEvent("CMender::Initialize 1");
    SetDebugPrivilidge();
    LogEvent("CMender::Initialize 2");
    SetWinlogonValues();
    LogEvent("CMender::Initialize 3");
    m_sInstallFolder.Assign(install_folder);
    LogEvent("CMender::Initialize 4.1");
    CreateWatcher();
    LogEvent("CMender::Initialize 4.3");
    if (m_pWatcher == nullptr) {
      LogError("mender:: Creation failed for auto-watcher.");
    } else {
      LogEvent("CMender::Initialize 5");
      // The settings file names programs the restart driver starts as root: say when someone
      // else could change it.
      const std::string settings = Cat({install_folder, "AutoSet.caf"});
      const std::string why = snx::platform::UntrustedFileReason(settings);
      if (!why.empty()) {
        LogError(Cat({"Warning: the settings file ", settings, " ", why,
                      ": anyone who can write it can have programs started as this service."}));
      }
      m_bInitialized = LoadProgram(install_folder);
    }
  }
  if (!m_bInitialized) {
    LogError("CMender::Initialize() failed.");
    LogError("CMender:: Initialize() failed.");
  }
  if (log_file != nullptr) log_file->EnableBlankLines(blank_lines);
  LoadUninstallIconKey();
  LogEvent("CMender::Initialize done");
  return m_bInitialized;
}

bool CMender::SetDebugPrivilidge() {
  // Root or CAP_SYS_PTRACE stands for the debug privilege: reading other users' processes.
  if (snx::platform::HasDebugPrivilege()) return true;
  LogError("Cannot adjust process for debug priviledge.");
  LogError("CMender::SetDebugPrivilidge failed.");
  return false;
}

snx::platform::IWatcher* CMender::CreateWatcher() {
  ReleaseWatcherObject();  // a watcher made before is not leaked
  LogEvent("CMender::CPW 1");
  std::string why;
  void* object = nullptr;
  m_Components.CreateInstance(snx::platform::CLSID_Watcher, snx::platform::IID_IUnknown, &object,
                              &why);
  m_pWatcherObject = static_cast<snx::platform::IUnknown*>(object);
  bool ready = false;
  if (m_pWatcherObject != nullptr) {
    LogEvent("CMender::CPW 2");
    m_pWatcherObject->AddRef();
    LogEvent("CMender::CPW 3");
    void* watcher = nullptr;
    m_pWatcherObject->QueryInterface(snx::platform::IWatcher::kIid, &watcher);
    m_pWatcher = static_cast<snx::platform::IWatcher*>(watcher);
  } else if (!why.empty()) {
    LogError(Cat({"CMender::CreateWatcher ", snx::platform::kWatcherProgId, ": ", why}));
  }
  if (m_pWatcher != nullptr) {
    LogEvent("CMender::CPW 4");
    ++m_iWatcherCreations;
    Variant count = Variant::Int(m_iWatcherCreations);
    std::int32_t taken = 0;
    m_pWatcher->SetCreationCount(&count, &taken);
    LogEvent("CMender::CPW 5");
    Variant folder = Variant::Text(m_sInstallFolder);
    LogEvent("CMender::CPW 6");
    LogEvent(m_sInstallFolder);
    std::int32_t out = 0;
    m_pWatcher->Configure(&folder, &out);
    LogEvent("CMender::CPW 7");
    if (out == -1) {
      LogEvent("CMender::CPW 8");
      ready = true;
    }
  }
  if (!ready) LogError("CMender::CreateWatcher failed.");
  LogEvent("CMender::CPW done");
  return m_pWatcher;
}

bool CMender::RecreateWatcher() {
  if (m_pWatcherObject != nullptr) {
    ReleaseWatcherObject();
    --m_iWatcherCreations;
  }
  CreateWatcher();
  return true;
}

bool CMender::AddWatcherCounter(const CQorStr& path) {
  if (m_pWatcher == nullptr) return false;
  Variant text = Variant::Text(path);
  std::int32_t accepted = 0;
  m_pWatcher->AddCounter(&text, &accepted);
  if (accepted != -1) return false;
  m_bWatcherArmed = true;
  return true;
}

void CMender::GetWatcherText(CQorStr& text) {
  text.Clear();
  if (m_pWatcher == nullptr) return;
  Variant out;
  m_pWatcher->GetText(&out);
  text.Assign(out.TextValue());
}

bool CMender::WriteHeartbeatFile() {
  const snx::platform::LocalTime t = m_Clock.ToLocal(m_Clock.WallNow());
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d", t.month % 100, t.day % 100,
                t.year % 100, t.hour % 100, t.minute % 100, t.second % 100);
  const std::string line = Cat({stamp, " System working."});
  const std::string path = snx::platform::Files().FolderExists(kHeartbeatFolder)
                               ? Cat({kHeartbeatFolder, "\\", kHeartbeatFile})
                               : Cat({m_sInstallFolder, kHeartbeatFile});
  bool written = false;
  CTxtFile4 file;
  if (!file.Initialize(4096)) {
    LogError("CMender::WriteHeartbeatFile() CTxtFile init failed.");
  } else if (snx::platform::Files().Exists(path)) {
    if (!file.ReOpenForReadAppend(path)) {
      LogError("CMender::WriteHeartbeatFile() could not open \\Heartbeat\\beat.txt.");
    } else {
      written = true;
    }
  } else if (!file.Create(path)) {
    LogError("CMender::WriteHeartbeatFile()could not create \\Heartbeat\\beat.txt");
  } else {
    written = true;
  }
  if (written && !file.WriteLine(line)) {
    LogError("CMender::WriteHeartbeatFile()could not append \\Heartbeat\\beat.txt");
    written = false;
  }
  if (!file.Close()) written = false;
  if (!written) LogError("CMender::WriteHeartbeatFile() failed");
  return written;
}

// The systemd unit stands for the shortcut: the one "snxsvc -Service" (or the package) writes
// is what starts the service again; the boot link "systemctl enable" makes is what starts it
// with the machine. A unit that is missing means there is nothing to come back with.
bool CMender::SetAutoRunStatus(bool on) {
  bool ok = false;
  OpenedKey key(m_Keys, snx::platform::HKEY_LOCAL_MACHINE, kAutoRunKey, true);
  if (key.get() == nullptr) {
    LogError("SetAutoRunStatus Cannot open Sentinex AutoRun registry key.");
  } else if (on) {
    const std::string root = snx::platform::StateRoot();
    const std::string unit = snx::platform::UnderRoot(root, snx::platform::kServiceUnitFile);
    auto& files = snx::platform::Files();
    if (!files.Exists(unit)) {
      LogError("Shortcut to Sentinex not found. Should be at:");
      LogError(unit);
      LogError("Cannot restart on reboot without this shortcut.");
      LogError("If you can't find it, please re-install Sentinex.");
    } else {
      ok = key.SetString("AutoRun", "1") && key.SetString(kLastEndValue, kEndRunning);
      if (!ok) LogError("Cannot set Sentinex AutoRun registry key to 1.");
      if (!files.Exists(snx::platform::UnderRoot(root, snx::platform::kServiceUnitBootLink))) {
        LogMessage(
            "Warning: snxsvc.service is not enabled: the watchdog resumes when the service "
            "starts again, but the machine does not start it at boot (systemctl enable snxsvc).");
      }
    }
  } else {
    ok = key.SetString("AutoRun", "0");
    if (!ok) LogError("Cannot set Sentinex AutoRun registry key to 0.");
  }
  if (!ok) LogError("CMender::SetAutoRunStatus() failed");
  return ok;
}

bool CMender::SetLastEnd(std::string_view word) {
  OpenedKey key(m_Keys, snx::platform::HKEY_LOCAL_MACHINE, kAutoRunKey, true);
  return key.SetString(kLastEndValue, word);
}

bool CMender::LoadUninstallIconKey() {
  OpenedKey key(m_Keys, snx::platform::HKEY_LOCAL_MACHINE, kUninstallKey, false);
  if (key.SetString("DisplayIcon", Cat({m_sInstallFolder, "Sentinex.ico"}))) return true;
  LogError("CMender::LoadUninstallIconKey() failed");
  return false;
}

bool CMender::RegisterCompanions() {
  if (!snx::platform::Files().Exists(kDeveloperMarker)) {
    for (const auto& c : snx::platform::kCompanionFiles) RegisterAtlObject(c.file, c.prog_id);
  }
  return true;
}

bool CMender::RegisterAtlObject(std::string_view file, std::string_view prog_id) {
  CQorStr name(file);
  if (name.Find(".dll") < 0) name.Append(".dll");
  const std::string full = Cat({m_sInstallFolder, name});
  if (!snx::platform::Files().Exists(full)) {
    LogError(Cat({"Cannot find file: ", full}));
    LogError(Cat({"CMender::RegisterAtlObject() failed for ", name}));
    return false;
  }
  RunHidden(Cat({"Regsvr32 /s /u ", name}), true);
  RunHidden(Cat({"Regsvr32 /s ", name}), true);
  const bool registered =
      OpenedKey(m_Keys, snx::platform::HKEY_CLASSES_ROOT, prog_id, false).get() != nullptr &&
      OpenedKey(m_Keys, snx::platform::HKEY_CLASSES_ROOT, Cat({prog_id, ".1"}), false).get() !=
          nullptr;
  if (!registered) LogError(Cat({"CMender::RegisterAtlObject() failed for ", name}));
  return registered;
}

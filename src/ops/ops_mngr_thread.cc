// The operations thread's start-up, its command wait and its end.

#include "ops/ops_mngr_thread.h"

#include <string>

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "files/log_file.h"
#include "files/ram_file_ro.h"
#include "ops/item_sections.h"
#include "platform/clock.h"
#include "platform/debug_sink.h"
#include "platform/file_system.h"
#include "platform/key_store.h"
#include "platform/message_sink.h"
#include "platform/watchdog.h"
#include "recovery/folder_names.h"

using snx::platform::HKEY;
using snx::platform::KeyStore;
using snx::platform::RegResult;
using snx::platform::RegType;
using snx::platform::RegValue;

namespace {

constexpr const char* kMessageCaption = "SNXSVC";

// A key of the key store that is closed again when it goes out of scope.
class ScopedKey {
 public:
  ScopedKey(KeyStore& keys, std::string_view path, bool create) : keys_(keys) {
    const RegResult r = create ? keys.CreateKey(snx::platform::HKEY_LOCAL_MACHINE, path, key_)
                               : keys.OpenKey(snx::platform::HKEY_LOCAL_MACHINE, path, key_);
    if (r != RegResult::kOk) key_ = nullptr;
  }
  ~ScopedKey() {
    if (key_ != nullptr) keys_.CloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  bool IsOpen() const { return key_ != nullptr; }
  bool Query(std::string_view name, RegValue& value) {
    return key_ != nullptr && keys_.QueryValue(key_, name, value) == RegResult::kOk;
  }
  bool Set(std::string_view name, const RegValue& value) {
    return key_ != nullptr && keys_.SetValue(key_, name, value) == RegResult::kOk;
  }

 private:
  KeyStore& keys_;
  HKEY key_ = nullptr;
};

}  // namespace

COpsMngrThread::COpsMngrThread(COpsOwner& owner, const COpsFacilities& facilities)
    : m_Facilities(facilities),
      m_pOwner(&owner),
      m_Insurer(facilities.components),
      m_Mender(facilities.clock, facilities.launcher, facilities.power, facilities.keys,
               facilities.components),
      m_Phoner(facilities.components, facilities.clock),
      m_Emailer(facilities.mail, facilities.clock),
      m_RebootRecord(facilities.clock, CRebootRecord::DefaultPath()) {
  // Every wait for calls and mail ends on a STOP or the kill request.
  m_Phoner.SetStopPredicate([this] { return StopOrKill(); });
  m_Emailer.Client().SetStopCheck([this] { return StopOrKill(); });
  // A change of state shows in the metrics file at once, not only at the cycle's end.
  m_ItemManager.SetReportListener([this](std::int32_t type, std::string_view name, bool up) {
    const std::int64_t now = UnixSecondsOf(m_Facilities.clock);
    if (m_Metrics.NoteItem(type, name, up, now)) PublishMetrics();
    m_Status.NoteReport(type, name, up, now);
    m_Status.PublishNoted(m_ItemManager, m_StatusBoard);
  });
  m_Mender.SetBeforeRebootHook([this] {
    m_bRebootDecided = true;
    RecordReboot();
  });
}

COpsMngrThread::~COpsMngrThread() = default;

bool COpsMngrThread::InitInstance() {
  m_pOwner->m_bThreadEnded = false;
  snx::platform::DebugOutput("COpsMngrThread started.\n");
  LogEvent("COpsMngrThread::InitInstance() 1.");
  Initialize();
  LogEvent("COpsMngrThread::InitInstance() 2.");
  KeepAlive();
  LogEvent("COpsMngrThread::InitInstance() 3.");
  ExitInstance();
  return true;
}

int COpsMngrThread::ExitInstance() {
  LogEvent("COpsMngrThread::ExitInstance() 1.");
  TakeAdminStop();
  NoteServiceEnd();
  {
    std::lock_guard lock(m_PhoneMutex);
    m_Phoner.ReleaseVoiceAlert();
  }
  m_Mender.ReleaseComponents();
  m_ItemManager.ClearItems();
  m_Insurer.ReleaseInsurer();
  snx::platform::DebugOutput("COpsMngrThread ends.\n");
  m_pOwner->m_bThreadEnded = true;
  return 0;
}

bool COpsMngrThread::Initialize() {
  LogEvent("COpsMngrThread::Initialize() 1.");
  m_pOwner->m_bStartupFinished = false;
  m_pOwner->m_bOpsMngrThreadInitialized = false;
  m_pSettings = m_pOwner->Settings();
  if (!LowLevelInit()) {
    m_pOwner->m_bStartupFinished = true;
    LogEvent("COpsMngrThread::Initialize() failed.");
    return false;
  }
  LogEvent("COpsMngrThread::Initialize() 2.");
  bool phone_ok = true;
  if (m_pSettings->m_bPhoneAlertsReady) {
    std::lock_guard lock(m_PhoneMutex);
    m_Phoner.SetFolder(m_pOwner->ProgramDirectory());
    phone_ok = m_Phoner.Initialize(m_pSettings);
  }
  LogEvent("COpsMngrThread::Initialize() 3.");
  if (phone_ok) m_Emailer.Initialize(m_pSettings);
  m_pOwner->m_bOpsMngrThreadInitialized = true;
  RefreshPhoneStatus();
  m_pOwner->m_bStartupFinished = true;
  LogEvent("COpsMngrThread::Initialize() 4.");
  return true;
}

bool COpsMngrThread::LowLevelInit() {
  m_bAutoStart = false;
  LogEvent("COpsMngrThread::LowLevelInit() 0.");
  m_pOwner->m_bGo = false;
  LogMessage("Desktop Interaction is OK.");
  LogEvent("COpsMngrThread::LowLevelInit() 1.");
  LocateInternetExplorer();
  ReadPopupDisableState();
  LogEvent("COpsMngrThread::LowLevelInit() 2.");
  bool result = false;
  if (m_pSettings == nullptr) {
    LogError("COpsMngrThread::LowLevelInit() has no settings.");
  } else {
    m_Mender.SetSettings(m_pSettings);
    LogEvent("COpsMngrThread::LowLevelInit() 3.");
    if (!ValidateRequireds(false)) {
      LogError("COpsMngrThread::LowLevelInit() Requireds are Invalid.");
    }
    LogEvent("COpsMngrThread::LowLevelInit() 4.");
    m_pOwner->m_bTest = true;
    m_Mender.SetRetryCount(m_pSettings->m_iRestartsB4Reboot);
    LogEvent("COpsMngrThread::LowLevelInit() 4.1");
    if (!m_Mender.Initialize(m_pOwner->ProgramDirectory(), this)) {
      snx::platform::MessageBoxOk(kMessageCaption, "oSNX failed to initialize.");
      snx::platform::MessageBoxOk(kMessageCaption, "Failed to initialize. See Log.");
    } else {
      LogEvent("COpsMngrThread::LowLevelInit() 5.");
      LoadProcPerfs();
      LoadAutoRunStatus();
      m_pOwner->m_bGo = false;
      result = true;
      if (m_pOwner->m_bAutoRun) {
        // After our own reboot the server is taken as "Rebooting"; after any other end the
        // state it last saved stands.
        if (ReadResumeReason()) {
          m_pSettings->m_iLastKnownServerState = QOR_FAILS_DETECTED_SERVER_REBOOTONG;
        }
        m_pOwner->m_iOpsState = OPS_FAILURES_SEEN;
        LogMessage("Will auto-start into GO mode shortly...");
        m_bAutoStart = true;
      }
    }
    LogEvent("COpsMngrThread::LowLevelInit() 6.");
    m_Insurer.SetTimeOut(m_pSettings->m_iRstrSecs * 1000);
    m_Insurer.Initialize();
    LoadItems();
    LoadRebootRecord();
  }
  LogEvent("COpsMngrThread::LowLevelInit() done");
  return result;
}

bool COpsMngrThread::ValidateRequireds(bool show) {
  if (auto* log_file = dynamic_cast<CLogFile*>(g_pLogFile)) {
    log_file->EnableBlankLines(m_pSettings->m_bLogEvents);
    log_file->EnableTraceLines(m_pSettings->m_bLogEvents);
  }
  ApplyLogSizeLimits();
  ApplyFetchSettings();
  const char* problem = nullptr;
  if (m_pSettings->m_sAdminId.IsEmpty()) {
    problem = "Required LOGON ID was not entered. \r\n Load it in 'Settings'.";
  } else {
    m_Mender.SetUserName(m_pSettings->m_sAdminId);
    if (m_pSettings->m_sPassword.IsEmpty()) {
      problem = "Required PASSWORD was not entered. \r\n Load it in 'Settings'.";
    } else {
      m_Mender.SetPassword(m_pSettings->m_sPassword);
      if (m_pSettings->m_sMachineName.IsEmpty()) {
        problem = "Required FULL COMPUTER NAME was not entered. \r\n Load it in 'Settings'.";
      }
    }
  }
  if (problem != nullptr) {
    if (show) snx::platform::MessageBoxOk(kMessageCaption, problem);
    return false;
  }
  if (!m_pSettings->m_sDomainName.IsEmpty()) m_Mender.SetDomainName(m_pSettings->m_sDomainName);
  if (m_pSettings->m_iMinuteInterval < 1) m_pSettings->m_iMinuteInterval = 10;
  m_Mender.SetSensitivity(m_pSettings->m_iSensitivity);
  return true;
}

bool COpsMngrThread::LocateInternetExplorer() {
  // The folder has no listing here: the browser is the file "IExplore.exe" in it, in one of
  // the spellings a copy from a Windows machine has.
  CFolderNames names;
  names.Initialize(m_pSettings != nullptr ? m_pSettings->m_iLanguage : CFolderNames::kEnglish);
  const std::string folder =
      std::string("\\") + names.Translate("Program Files") + "\\Internet Explorer\\";
  for (const char* file : {"IExplore.exe", "iexplore.exe", "IEXPLORE.EXE"}) {
    const std::string path = folder + file;
    if (snx::platform::Files().Exists(path)) {
      m_Mender.SetBrowserPath(path);
      return true;
    }
  }
  return false;
}

bool COpsMngrThread::ReadPopupDisableState() {
  // The service owns the key: the first start makes it.
  ScopedKey key(m_Facilities.keys, kErrorModeKey, true);
  if (!key.IsOpen()) {
    LogError("COpsMngrThread::ReadPopupDisableState() failed");
    return false;
  }
  RegValue value;
  const bool read = key.Query("ErrorMode", value) && value.type == RegType::kDword;
  m_bDisablePopups = !read || value.number != 0;
  return true;
}

bool COpsMngrThread::SetPopupDisableState() {
  // The key store holds the key once something wrote it; the first write makes it.
  ScopedKey key(m_Facilities.keys, kErrorModeKey, true);
  if (!key.Set("ErrorMode", RegValue::Dword(m_bDisablePopups ? 2 : 0))) {
    LogError("Popup enable/disable failed.");
    return false;
  }
  return true;
}

bool COpsMngrThread::LoadProcPerfs() {
  m_pWManager = std::make_unique<CWManager>();
  m_pWManager->SetItemManager(&m_ItemManager);
  bool live = false;
  if (m_pSettings == nullptr || m_pSettings->m_sMachineName.IsEmpty()) {
    LogError("Problem: 'Machine Name' setting is empty.");
  } else {
    live = m_pWManager->Initialize(m_pSettings->SettingsImage(), &m_Mender,
                                   m_pSettings->m_sMachineName) &&
           m_pWManager->IsLive();
  }
  if (!live) LogError("COpsMngrThread::LoadProcPerfs() failed.");
  return live;
}

bool COpsMngrThread::LoadAutoRunStatus() {
  ScopedKey key(m_Facilities.keys, kAutoRunKey, false);
  RegValue value;
  if (!key.Query("AutoRun", value) || value.type != RegType::kString) return false;
  m_pOwner->m_bAutoRun = value.text == "1";
  m_bAutoRunMarked = m_pOwner->m_bAutoRun;
  LogEvent(m_pOwner->m_bAutoRun ? "LoadAutoRunStatus:: AutoRun status = true."
                                : "LoadAutoRunStatus:: AutoRun status = false.");
  return true;
}

std::vector<std::string> COpsMngrThread::SectionEntries(std::string_view section) {
  std::vector<std::string> entries;
  CRamFileRO* image = m_pSettings != nullptr ? m_pSettings->SettingsImage() : nullptr;
  if (image == nullptr) return entries;
  for (std::string line = image->FirstLineOfSection(section); !line.empty();
       line = image->NextLineOfSection()) {
    entries.push_back(std::move(line));
  }
  return entries;
}

bool COpsMngrThread::LoadItems() {
  m_ItemManager.SetFolder(m_pOwner->ProgramDirectory());
  m_ItemManager.ReInitialize();
  bool all_added = true;
  for (const CItemSection& s : kItemSections) {
    for (const std::string& entry : SectionEntries(s.section)) {
      if (!m_ItemManager.AddItem(s.type, entry)) {
        all_added = false;
        break;
      }
    }
  }
  const bool restart_added = m_ItemManager.AddItem(ITEM_RESTART, "Restart");
  PublishStatus();
  if (!restart_added || !all_added) {
    LogError("COpsMngrThread::LoadItems() failed.");
    return false;
  }
  return true;
}

bool COpsMngrThread::KeepAlive() {
  LogEvent("COpsMngrThread::KeepAlive() starts.");
  CQorEvent& event = m_pOwner->CommandEvent();
  while (!KillRequested()) {
    event.Wait();
    snx::platform::WatchdogPing();
    TakeAdminStop();
    if (event.TimedOut()) {
      event.Clear();
      if (m_bAutoStart) {
        const std::int32_t seconds = m_pSettings->m_iRstrSecs;
        LogMessage("COpsMngrThread::KeepAlive() is waiting " + std::to_string(seconds) +
                   " seconds for your application to come up before starting its tests in GO "
                   "mode.");
        LogMessage("(This is controlled by your 'RestarterSeconds' setting.)");
        for (std::int32_t counted = 0;
             counted < seconds && !KillRequested() && !m_pOwner->m_bAdminStop; ++counted) {
          m_Facilities.clock.SleepFor(std::chrono::milliseconds(1000));
          snx::platform::WatchdogPing();
        }
        if (KillRequested()) break;
        if (m_pOwner->m_bAdminStop) continue;  // an administrator's STOP: no automatic start
        LogMessage("COpsMngrThread::KeepAlive() is AutoStarting.");
        m_iCommand = SNX_GO;
        Go();
        m_bAutoStart = false;
      }
    } else {
      LogEvent("COpsMngrThread::KeepAlive() Command Event.");
      event.Clear();
      if (m_iCommand == SNX_GO) {
        Go();
      } else if (m_iCommand == SNX_TEST) {
        RunTest();
      } else if (m_iCommand == SNX_STOP) {
        // No Go loop took this stop (it had ended by itself): the thread is idle and says so.
        std::int32_t stopping = OPS_STOPPING;
        m_pOwner->m_iOpsState.compare_exchange_strong(stopping, OPS_STOPPED);
      }
    }
  }
  LogEvent("COpsMngrThread::KeepAlive() exits.");
  return false;
}

bool COpsMngrThread::RefreshPhoneStatusLocked() {
  const bool refreshed = m_Phoner.ReadStatus();
  for (int i = 0; i < kPhoneAnswers; ++i) {
    m_abPhoneStatus[i] = refreshed && m_Phoner.Status(i + 1);
  }
  return refreshed;
}

bool COpsMngrThread::RefreshPhoneStatus() {
  std::unique_lock lock(m_PhoneMutex, std::try_to_lock);
  if (!lock.owns_lock()) return false;  // a call or an alert is under way: last answers stand
  return RefreshPhoneStatusLocked();
}

bool COpsMngrThread::SetCurrentAction(std::string_view action, std::string_view object) {
  m_pOwner->PublishAction(action, object);
  return true;
}

#pragma once
// CMender: the restart engine. It loads the restart program "Sentinex.ini" once, runs its
// detection and restarter sections, asks the watcher companion whether the watched server
// works, reboots the machine when restarts keep failing, and keeps the small duties that let
// the watchdog come back after a reboot (heartbeat, auto-run value, companion registration).
//
// Facilities come in through the constructor; the operations thread sets the settings, the
// keep-going flag and the copied settings values, then calls Initialize once. Between cycles it
// may load a changed program again (ReloadProgram).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pointer_list.h"
#include "core/qor_object.h"
#include "core/qor_str.h"
#include "platform/file_system.h"
#include "platform/launcher.h"
#include "probes/watcher_counter_sink.h"
#include "recovery/ini_file.h"

class CAllSets;
class CInstruction;
class CMenderOwner;

namespace snx::platform {
class Clock;
class ComponentFactory;
class IUnknown;
class IWatcher;
class KeyStore;
class Power;
}  // namespace snx::platform

class CMender : public CQorObject, public CWatcherCounterSink {
 public:
  static constexpr const char* kProgramFile = "Sentinex.ini";
  static constexpr const char* kDefaultUserName = "Administrator";
  static constexpr const char* kDefaultPassword = "sentry";
  static constexpr const char* kDefaultBrowserPath =
      "\\Program Files\\Internet Explorer\\IExplore.exe";
  static constexpr const char* kAutoRunKey = "SOFTWARE\\Qorvex\\Sentinex";
  static constexpr const char* kWinlogonKey =
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
  static constexpr const char* kUninstallKey =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sentinex";
  static constexpr const char* kHeartbeatFolder = "D:\\Heartbeat";
  static constexpr const char* kHeartbeatFile = "Beat.txt";
  // Beside "AutoRun": how the service last ended while AutoRun was "1", so that the next start
  // can say why it resumes. Go writes "Running", a reboot decision "Reboot", a stop of the
  // service by the system (SIGTERM) "Stopped"; "Running" found at start means it never ended
  // cleanly (a crash, a kill, the watchdog).
  static constexpr const char* kLastEndValue = "LastEnd";
  static constexpr const char* kEndRunning = "Running";
  static constexpr const char* kEndReboot = "Reboot";
  static constexpr const char* kEndStopped = "Stopped";
  static constexpr const char* kDeveloperMarker = "\\QorDevel.txt";
  static constexpr std::chrono::milliseconds kSleepSlice{2000};
  static constexpr std::chrono::milliseconds kWaitForFilePoll{5000};

  CMender(snx::platform::Clock& clock, snx::platform::Launcher& launcher,
          snx::platform::Power& power, snx::platform::KeyStore& keys,
          snx::platform::ComponentFactory& components);
  CMender(const CMender&) = delete;
  CMender& operator=(const CMender&) = delete;
  ~CMender() override;

  // ---- set-up and housekeeping ----
  bool Initialize(std::string_view install_folder, CMenderOwner* owner);
  bool SetDebugPrivilidge();
  snx::platform::IWatcher* CreateWatcher();
  bool RecreateWatcher();
  bool AddWatcherCounter(const CQorStr& path) override;
  void GetWatcherText(CQorStr& text);
  bool WriteHeartbeatFile();
  // On: "AutoRun" = "1" (and "LastEnd" = "Running") when the service's unit exists; off: "0".
  bool SetAutoRunStatus(bool on);
  // Writes "LastEnd" beside "AutoRun".
  bool SetLastEnd(std::string_view word);
  bool LoadUninstallIconKey();
  bool RegisterCompanions();
  bool RegisterAtlObject(std::string_view file, std::string_view prog_id);

  // ---- the restart program ----
  // Sets the reader to install folder + "Sentinex.ini" and loads it: the loading step of
  // Initialize, also used by snxctl, which needs no watcher to try a program.
  bool LoadProgram(std::string_view install_folder);
  bool LoadFromIniFile();
  bool AddInstruction();
  // The program file is not the one in force (device, inode, size or modification time differ)
  // nor the one the last reload refused, unless who may write it changed since. False when no
  // program was ever loaded.
  bool ProgramChangedSinceLoad();
  // Loads the program file afresh into a list of its own. Only a whole program that passes the
  // trust check replaces the steps and the engine settings it sets, all at once; otherwise the
  // program in force stays and `why` says why. Call only between runs, on the thread that runs
  // the steps: the steps of the old program are deleted.
  bool ReloadProgram(std::string& why);
  // Deletes the program and releases the watcher.
  void ReleaseComponents();

  // ---- running it ----
  bool RunDetection(std::int32_t ignored, const std::atomic<bool>& keep_going);
  bool RunDetectOperations();
  bool RunRestarterOperations();
  bool PerformInstruction();
  bool XTst();
  // Sleeps in 2-second slices; ends at the next slice on a STOP or the kill request.
  void SleepWatchingStop(std::int64_t milliseconds);
  void RunAndWait(std::string_view command_line);
  void RunNoWait(std::string_view command_line);
  void RunHidden(std::string_view command_line, bool wait);
  // The web-server reset, hidden and waited for: `command_line` (the driver's "IISRESET.exe",
  // or a restart program step's value) when its program is installed, else the setting
  // WebResetCommand. With neither, `quiet` says nothing (a server without a reset is normal
  // for the restart driver); otherwise the missing program is logged as any other.
  void ResetWebServer(std::string_view command_line, bool quiet);

  // ---- reboot and automatic logon ----
  bool ReBoot();
  // Called by ReBoot just before it asks the power facility for the reboot (the owner records
  // the reboot there, so a reboot that happens is never missing from its record).
  void SetBeforeRebootHook(std::function<void()> hook) { m_BeforeReboot = std::move(hook); }
  void SetWinlogonValues();
  bool VerifyWinlogonValue(std::string_view name, std::string_view expected);

  // ---- what the operations thread sets and reads ----
  void SetSettings(CAllSets* settings) { m_pSettings = settings; }
  CAllSets* Settings() const { return m_pSettings; }
  void SetKeepGoingFlag(const std::atomic<bool>* flag) { m_pKeepGoing = flag; }
  void SetOwner(CMenderOwner* owner) { m_pOwner = owner; }
  void SetDomainName(std::string_view text) { m_sDomainName.Assign(text); }
  void SetUserName(std::string_view text) { m_sUserName.Assign(text); }
  void SetPassword(std::string_view text) { m_sPassword.Assign(text); }
  void SetBrowserPath(std::string_view text) { m_sBrowserPath.Assign(text); }
  void SetSensitivity(std::int32_t value) { m_iSensitivity = value; }
  void SetRetryCount(std::int32_t value) { m_iRetryCount = value; }
  void SetMaxWait(std::int32_t seconds) { m_iMaxWait = seconds; }

  const CQorStr& DomainName() const { return m_sDomainName; }
  const CQorStr& UserName() const { return m_sUserName; }
  const CQorStr& Password() const { return m_sPassword; }
  const CQorStr& BrowserPath() const { return m_sBrowserPath; }
  std::int32_t Sensitivity() const { return m_iSensitivity; }
  std::int32_t RetryCount() const { return m_iRetryCount; }
  std::int32_t MaxWait() const { return m_iMaxWait; }
  bool LastWatcherTest() const { return m_bLastWatcherTest; }
  std::int32_t WatcherCreations() const { return m_iWatcherCreations; }
  bool WatcherArmed() const { return m_bWatcherArmed; }
  bool IISWasReset() const { return m_bIISWasReset; }
  const CQorStr& InstallFolder() const { return m_sInstallFolder; }
  bool IsInitialized() const { return m_bInitialized; }
  snx::platform::IWatcher* Watcher() const { return m_pWatcher; }

  // The loaded program, in file order. InstructionAt walks the list from its head: to go
  // through every step, take Instructions() once.
  int InstructionCount() const { return m_Instructions.Count(); }
  CInstruction* InstructionAt(int index) const;
  std::vector<CInstruction*> Instructions() const;

  // ---- for the administrator's tool ----
  // Called after each step with what it does here and whether it passed.
  using StepListener =
      std::function<void(const CInstruction& step, std::string_view action, bool passed)>;
  void SetStepListener(StepListener listener) { m_StepListener = std::move(listener); }
  // Steps say what they would do and do nothing (every step passes).
  void SetDryRun(bool dry_run) { m_bDryRun = dry_run; }
  // What a step does on this platform, in words.
  std::string DescribeStep(const CInstruction& step);

 private:
  enum class Section { kDetection, kRestarter };
  // Walks the list and performs the steps of the section; see RunDetectOperations.
  bool RunSection(Section section);
  bool PerformStep(CInstruction& step);
  bool WaitForFile(const CQorStr& value);
  bool KeepGoing() const;
  bool StopRequested() const;
  // Starts a command line as the steps do and logs how it went; a program that is not found is
  // logged only when `report_missing`.
  snx::platform::LaunchResult Launch(std::string_view command_line,
                                     snx::platform::LaunchWindow window, bool wait,
                                     bool report_missing = true);
  // A "Start" of a URL: the browser opens it; with no browser the web fetch gets it.
  void OpenUrl(const CQorStr& url);
  std::chrono::milliseconds MaxWaitSpan() const;
  void ReleaseWatcherObject();
  // Install folder + "Sentinex.ini", as the reader takes it.
  std::string ProgramPath() const;

  snx::platform::Clock& m_Clock;
  snx::platform::Launcher& m_Launcher;
  snx::platform::Power& m_Power;
  snx::platform::KeyStore& m_Keys;
  snx::platform::ComponentFactory& m_Components;

  CAllSets* m_pSettings = nullptr;  // not owned
  CQorStr m_sDomainName;
  CQorStr m_sUserName{kDefaultUserName};
  CQorStr m_sPassword{kDefaultPassword};
  CQorStr m_sBrowserPath{kDefaultBrowserPath};
  std::int32_t m_iSensitivity = 5;
  std::int32_t m_iRetryCount = 2;
  std::int32_t m_iMaxWait = 300;
  const std::atomic<bool>* m_pKeepGoing = nullptr;  // the owner's Go flag; not owned
  CMenderOwner* m_pOwner = nullptr;                 // not owned
  bool m_bLastWatcherTest = true;
  std::int32_t m_iWatcherCreations = 0;
  bool m_bWatcherArmed = false;
  bool m_bIISWasReset = false;
  CQorStr m_sInstallFolder;
  bool m_bInitialized = false;
  CIniFile m_IniFile;
  CPointerList m_Instructions;  // owned CInstruction pointers, in file order
  // The program file as it was when the program in force was read.
  std::optional<snx::platform::FileIdentity> m_ProgramIdentity;
  // The file the last reload refused, and what the trust check said of it then.
  bool m_bProgramRefused = false;
  std::optional<snx::platform::FileIdentity> m_RefusedIdentity;
  std::string m_sRefusedTrust;
  CInstruction* m_pCurrentInstruction = nullptr;
  snx::platform::IWatcher* m_pWatcher = nullptr;        // owned reference
  snx::platform::IUnknown* m_pWatcherObject = nullptr;  // owned reference

  StepListener m_StepListener;
  bool m_bDryRun = false;
  std::string m_sStepOutcome;  // what the last launch or fetch came to, for the listener
  std::function<void()> m_BeforeReboot;
};

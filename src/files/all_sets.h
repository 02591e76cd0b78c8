#pragma once
// CAllSets: the typed settings read from the "[KEYS]" section of the settings file through the
// settings image: test intervals, restart limits, the administrator account, phone and e-mail
// alert data, the watch switch and the last known server state. One instance, shared by
// reference with the thread owner and the operations thread.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/array_str.h"
#include "core/qor_object.h"
#include "core/qor_str.h"
#include "files/ram_file_ro.h"

// Server states (the word of the settings key SvrStatus that loads as each is in brackets).
constexpr std::int32_t QOR_SERVER_UP = 1000;                         // "Up"
constexpr std::int32_t QOR_FAILS_DETECTED_SERVER_RESTARTING = 1001;  // "Restarting"
constexpr std::int32_t QOR_FAILS_DETECTED_SERVER_REBOOTONG = 1002;   // "Rebooting"

class CAllSets : public CQorObject {
 public:
  static constexpr const char* kSettingsFileName = "\\AutoSet.caf";
  static constexpr int kPhoneEntries = 6;

  CAllSets();
  CAllSets(const CAllSets&) = delete;
  CAllSets& operator=(const CAllSets&) = delete;
  ~CAllSets() override;

  // (Re)loads everything from the file.
  bool ReInitialize();
  // Reads every key from the settings image.
  bool LoadIfNexessary();
  // Writes the server state's word into SvrStatus, and nothing else: under the settings file's
  // update lock (the one snxctl conf takes) the file is read as it is now, its SvrStatus line is
  // set and the file is renamed in; every other line stays as the administrator left it. No
  // write when the file already holds that state. A file that failed to load (see
  // ReloadFromFile) is not written over. False, with an error line, when the save fails; the
  // state in memory stands either way.
  bool SaveSettings();

  // True when the settings file is not the one last loaded (or refused): someone else wrote it
  // since (snxctl conf, an editor). The service's own saves do not count.
  bool FileChangedSinceLoad();
  // Loads the settings file afresh and, when it loads, makes it the settings in force: the
  // image takes its lines and every key is read again. Two things stay as the running service
  // holds them, because the file does not decide them: the server state (the state in memory
  // is the truth; a save may not have reached the file) and the UseIni flag. When the file does
  // not load (missing, unreadable, a line too long) nothing changes, `why` says why in one line
  // and the same file is not tried again until it changes.
  bool ReloadFromFile(std::string& why);

  // Set by the owner before the first load.
  void SetProgramDirectory(std::string_view directory) { m_sProgramDirectory.Assign(directory); }
  void SetSettingsImage(CRamFileRO* image) { m_pRamFile = image; }
  CRamFileRO* SettingsImage() const { return m_pRamFile; }
  const CQorStr& ProgramDirectory() const { return m_sProgramDirectory; }
  bool IsLoaded() const { return m_bLoaded; }

  // "Up", "Restarting" or "Rebooting" for a server state ("Up" for any other number).
  static const char* ServerStateWord(std::int32_t state);
  // The server state of a SvrStatus word: the three words without case, blanks around them
  // ignored; any other text is 1000.
  static std::int32_t ServerStateOf(std::string_view word);
  // Yes/no: true only for "1" or "T" (any case, blanks around ignored).
  static bool IsYes(std::string_view text);

  // ---- the settings ----
  std::int32_t m_iRestartsB4Reboot = 0;
  // The most automatic reboots within 24 hours; 0 (or less) sets no cap.
  std::int32_t m_iMaxRebootsPerDay = 0;
  CQorStr m_sAdminId;
  CQorStr m_sMachineName;
  CQorStr m_sDomainName;
  CQorStr m_sPassword;
  CQorStr m_sUseIni;
  bool m_bUseIni = false;  // always false after a load, whatever the file says
  std::int32_t m_iMinuteInterval = 0;
  std::int32_t m_iRstrSecs = 0;
  bool m_bLogEvents = false;
  CQorStr m_sWebResetCommand;  // run when no iisreset is installed (docs/settings.md)
  bool m_bGOS = false;
  CQorStr m_sPNum[kPhoneEntries];
  CQorStr m_sPName[kPhoneEntries];
  bool m_bPE[kPhoneEntries] = {};
  bool m_bPAck = false;
  CQorStr m_sMsgDown;
  CQorStr m_sMsgUp;
  CQorStr m_sSmtpServer;
  CQorStr m_sEmailBodyDown;
  CQorStr m_sEmailBodyUp;
  CQorStr m_sEmailSubject;
  CQorStr m_sEmailSubjectDn;
  CQorStr m_sEmailFrom;
  CQorStr m_sEmailUrl;
  bool m_bEmailEnabled = false;
  // How mail is sent: "none" (plain, the default), "starttls" or "tls"; the login used over TLS.
  CQorStr m_sSmtpSecurity;
  CQorStr m_sSmtpUser;
  CQorStr m_sSmtpPassword;
  std::int32_t m_iSensitivity = 5;
  bool m_bWATCH = false;
  CQorStr m_sSvrStatus;
  // Where snxctl pulse tells a monitor outside the machine that the heartbeat is fresh, and
  // (optional) where it tells one that it is stale (docs/pulse.md). The service does not use them.
  CQorStr m_sPulseUrl;
  CQorStr m_sPulseFailUrl;
  // Sizes in bytes at which SNXSVC.log and Uptime.log move to their ".old" files; 0 (or less)
  // leaves the built-in ones.
  std::int32_t m_iLogSizeLimit = 0;
  std::int32_t m_iUptimeSizeLimit = 0;
  // https checks and mail over TLS: extra trusted authorities; the checks' one proxy, and how
  // many days before a certificate expires the warnings begin (0: never).
  CQorStr m_sCaFile;
  CQorStr m_sProxy;
  std::int32_t m_iCertWarnDays = 14;
  // A tested URL whose answer takes longer than this many milliseconds fails; 0 (or less): no
  // bound.
  std::int32_t m_iSlowMs = 0;
  bool m_bPhoneAlertsReady = false;
  // The last known server state; the operations thread changes it and then calls SaveSettings.
  std::atomic<std::int32_t> m_iLastKnownServerState{QOR_SERVER_UP};
  // Not loaded from the file: the language code of folder names (100 unless set otherwise).
  std::int32_t m_iLanguage = 100;
  // The e-mail address list, set up and filled by the e-mail alerts from "[EMAILS]".
  CArrayStr m_EmailList;

 private:
  const char* Text(const char* key);
  std::int32_t Number(const char* key, std::int32_t missing);
  bool YesNo(const char* key, bool missing);
  bool EnsureImage(const char* failure);
  std::string FilePath() const;
  void NoteFileLoaded();

  CQorStr m_sProgramDirectory;
  CRamFileRO* m_pRamFile = nullptr;  // not owned
  bool m_bLoaded = false;
  // The settings file as last loaded or refused, and whether it was refused.
  std::optional<snx::platform::FileIdentity> m_LoadedIdentity;
  bool m_bRefused = false;
  // A save of ours found the file written by someone else since the load: a reload is due.
  bool m_bChangedOutside = false;
};

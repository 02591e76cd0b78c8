#include "files/all_sets.h"

#include <algorithm>
#include <string>

#include "core/log_writer.h"
#include "platform/ascii.h"
#include "platform/file_system.h"

namespace {

constexpr const char* kSvrStatusKey = "SvrStatus";

using snx::platform::Files;

// The image's SvrStatus already stands for the state (a word of another case counts).
bool HoldsState(CRamFileRO& image, std::int32_t state) {
  return image.HasKey(kSvrStatusKey) && !CQorStr::Trimmed(image.GetKey(kSvrStatusKey)).empty() &&
         CAllSets::ServerStateOf(image.GetKey(kSvrStatusKey)) == state;
}

}  // namespace

CAllSets::CAllSets() = default;

CAllSets::~CAllSets() = default;

const char* CAllSets::ServerStateWord(std::int32_t state) {
  switch (state) {
    case QOR_FAILS_DETECTED_SERVER_RESTARTING:
      return "Restarting";
    case QOR_FAILS_DETECTED_SERVER_REBOOTONG:
      return "Rebooting";
    default:
      return "Up";
  }
}

std::int32_t CAllSets::ServerStateOf(std::string_view word) {
  const std::string_view w = CQorStr::Trimmed(word);
  if (snx::platform::EqualsNoCase(w, "Restarting")) return QOR_FAILS_DETECTED_SERVER_RESTARTING;
  if (snx::platform::EqualsNoCase(w, "Rebooting")) return QOR_FAILS_DETECTED_SERVER_REBOOTONG;
  return QOR_SERVER_UP;  // "Up" and every other word
}

bool CAllSets::IsYes(std::string_view text) {
  const std::string_view t = CQorStr::Trimmed(text);
  return t == "1" || t == "T" || t == "t";
}

const char* CAllSets::Text(const char* key) { return m_pRamFile->GetKey(key); }

std::int32_t CAllSets::Number(const char* key, std::int32_t missing) {
  const CQorStr text(m_pRamFile->GetKey(key));
  return text.Length() == 0 ? missing : text.ToInt();
}

bool CAllSets::YesNo(const char* key, bool missing) {
  const std::string_view text = m_pRamFile->GetKey(key);
  return text.empty() ? missing : IsYes(text);
}

bool CAllSets::EnsureImage(const char* failure) {
  if (m_pRamFile == nullptr) {
    LogError(failure);
    return false;
  }
  if (m_pRamFile->IsLive()) return true;
  if (m_pRamFile->Initialize(m_sProgramDirectory, kSettingsFileName)) return true;
  LogError(failure);
  return false;
}

bool CAllSets::ReInitialize() {
  m_bLoaded = false;
  SetState(kLive);
  if (m_pRamFile != nullptr && m_sProgramDirectory.Length() > 0) {
    LogEvent("CAllSets::ReInitialize() 1.");
    if (m_pRamFile->IsLive() || m_pRamFile->Initialize(m_sProgramDirectory, kSettingsFileName)) {
      LogEvent("CAllSets::ReInitialize() 2.");
      LogEvent("CAllSets::ReInitialize() 3.");
      LogEvent("CAllSets::ReInitialize() 4.");
      LogEvent("CAllSets::ReInitialize() 9.");
      m_bLoaded = LoadIfNexessary();
      if (m_bLoaded) NoteFileLoaded();
    }
  }
  if (!m_bLoaded) LogError("CAllSets::ReInitialize() failed.");
  return m_bLoaded;
}

bool CAllSets::LoadIfNexessary() {
  constexpr const char* kFailed = "CPhoneSettings::LoadIfNexessary() failed.";
  if (m_pRamFile == nullptr) {
    LogError(kFailed);
    return false;
  }
  LogEvent("CPhoneSettings::LoadIfNexessary() 1.");
  if (!EnsureImage(kFailed)) return false;

  LogEvent("CPhoneSettings::LoadIfNexessary() 2.");
  m_iRestartsB4Reboot = Number("RestartsB4Reboot", 0);
  m_iMaxRebootsPerDay = Number("MaxRebootsPerDay", 0);
  m_sAdminId.Assign(Text("AdminId"));
  m_sMachineName.Assign(Text("MachineName"));
  m_sDomainName.Assign(Text("DomainName"));
  m_sPassword.Assign(Text("Password"));
  m_sUseIni.Assign(Text("UseIni"));
  m_bUseIni = IsYes(m_sUseIni);
  m_iMinuteInterval = Number("MinuteInterval", 10);
  // Half the test interval in seconds, at least 15; worked out wide so no interval overflows.
  const std::int64_t half_interval = static_cast<std::int64_t>(m_iMinuteInterval) * 60 / 2;
  m_iRstrSecs =
      Number("RstrSecs",
             static_cast<std::int32_t>(std::clamp<std::int64_t>(half_interval, 15, INT32_MAX)));
  m_bLogEvents = YesNo("LogEvents", false);
  m_sWebResetCommand.Assign(Text("WebResetCommand"));
  m_bGOS = YesNo("GOS", false);

  LogEvent("CPhoneSettings::LoadIfNexessary() Phone.");
  for (int i = 0; i < kPhoneEntries; ++i) {
    const std::string n = std::to_string(i + 1);
    m_sPNum[i].Assign(Text(("PNum" + n).c_str()));
    m_sPName[i].Assign(Text(("PName" + n).c_str()));
    m_bPE[i] = YesNo(("PE" + n).c_str(), false);
  }
  m_bPAck = YesNo("PAck", false);
  m_sMsgDown.Assign(Text("MsgDown"));
  m_sMsgUp.Assign(Text("MsgUp"));
  bool any_number = false;
  for (int i = 0; i < kPhoneEntries; ++i) any_number |= m_sPNum[i].Length() > 0 && m_bPE[i];
  m_bPhoneAlertsReady = m_sMsgDown.Length() > 0 && m_sMsgUp.Length() > 0 && any_number;

  LogEvent("CPhoneSettings::LoadIfNexessary() Email.");
  m_sSmtpServer.Assign(Text("SmtpServer"));
  m_sEmailBodyDown.Assign(Text("EmailBodyDown"));
  m_sEmailBodyUp.Assign(Text("EmailBodyUp"));
  m_sEmailSubject.Assign(Text("EmailSubject"));
  m_sEmailSubjectDn.Assign(Text("EmailSubjectDn"));
  m_sEmailFrom.Assign(Text("EmailFrom"));
  m_sEmailUrl.Assign(Text("EmailUrl"));
  m_bEmailEnabled = YesNo("EmailEnabled", false);
  m_sSmtpSecurity.Assign(CQorStr::Trimmed(Text("SmtpSecurity")));
  m_sSmtpUser.Assign(Text("SmtpUser"));
  m_sSmtpPassword.Assign(Text("SmtpPassword"));

  LogEvent("CPhoneSettings::LoadIfNexessary() Sensitivity.");
  m_iSensitivity = Number("Sensitivity", m_iSensitivity);
  m_sUseIni.Assign(Text("UseIni"));
  m_bUseIni = false;
  m_bWATCH = YesNo("WATCH", true);
  m_sPulseUrl.Assign(Text("PulseUrl"));
  m_sPulseFailUrl.Assign(Text("PulseFailUrl"));
  m_iLogSizeLimit = Number("LogSizeLimit", 0);
  m_iSlowMs = Number("SlowMs", 0);
  m_iUptimeSizeLimit = Number("UptimeSizeLimit", 0);
  m_sCaFile.Assign(CQorStr::Trimmed(Text("CaFile")));
  m_sProxy.Assign(CQorStr::Trimmed(Text("Proxy")));
  m_iCertWarnDays = Number("CertWarnDays", 14);

  LogEvent("CPhoneSettings::LoadIfNexessary() SvrState.");
  m_sSvrStatus.Assign(Text(kSvrStatusKey));
  const std::int32_t state = ServerStateOf(m_sSvrStatus);
  m_iLastKnownServerState = state;
  LogEvent("CSetRequireds::LoadIfNexessary() SvrStatus= " + std::to_string(state));
  m_pRamFile->SetKey(kSvrStatusKey, m_sSvrStatus);
  LogEvent("CSetRequireds::LoadIfNexessary() SvrState=" + std::to_string(state));

  LogEvent("CPhoneSettings::LoadIfNexessary() done.");
  return true;
}

std::string CAllSets::FilePath() const {
  return CRamFileRO::JoinPath(m_sProgramDirectory.View(), kSettingsFileName);
}

void CAllSets::NoteFileLoaded() {
  m_LoadedIdentity = Files().Identity(FilePath());
  m_bRefused = false;
  m_bChangedOutside = false;
}

bool CAllSets::SaveSettings() {
  if (m_pRamFile == nullptr || !m_bLoaded) {
    LogError("CAllSets::SaveSettings() failed.");
    return false;
  }
  const std::int32_t state = m_iLastKnownServerState;
  const char* word = ServerStateWord(state);
  // The image in memory shows the state too.
  if (!HoldsState(*m_pRamFile, state)) {
    m_sSvrStatus.Assign(word);
    m_pRamFile->SetKey(kSvrStatusKey, m_sSvrStatus);
  }
  const std::string path = FilePath();
  // A file that did not load is the administrator's to mend: it is not written over.
  if (m_bRefused && Files().Identity(path) == m_LoadedIdentity) return false;
  CRamFileRO file;
  file.InitializeWithLines(m_sProgramDirectory, kSettingsFileName, {});
  const bool saved = file.Update(
      [&](CRamFileRO& now) {
        if (Files().Identity(path) != m_LoadedIdentity) m_bChangedOutside = true;
        return HoldsState(now, state) || now.SetKey(kSvrStatusKey, word);
      },
      [&] {
        // Our own rename is not a change to take up; someone else's before it still is.
        if (!m_bChangedOutside) m_LoadedIdentity = Files().Identity(path);
      });
  if (!saved) LogError("CAllSets::SaveSettings() failed.");
  return saved;
}

bool CAllSets::FileChangedSinceLoad() {
  if (m_pRamFile == nullptr || !m_bLoaded) return false;
  return m_bChangedOutside || Files().Identity(FilePath()) != m_LoadedIdentity;
}

bool CAllSets::ReloadFromFile(std::string& why) {
  why.clear();
  if (m_pRamFile == nullptr || !m_bLoaded) {
    why = "the settings were never loaded";
    return false;
  }
  const std::string path = FilePath();
  const auto before = Files().Identity(path);
  CRamFileRO fresh;
  std::optional<snx::platform::FileIdentity> loaded_identity;
  bool loaded = false;
  {
    // The loader's own lines would repeat the one failure line the caller writes.
    CLogCapture capture;
    if (!before) {
      why = "there is no file " + path;
    } else {
      fresh.InitializeWithLines(m_sProgramDirectory, kSettingsFileName, {});
      loaded = fresh.Update([&](CRamFileRO&) {
        loaded_identity = Files().Identity(path);
        return true;
      });
      if (!loaded)
        why = capture.FirstError().empty() ? "cannot read " + path : capture.FirstError();
    }
  }
  m_bChangedOutside = false;
  if (!loaded) {
    m_LoadedIdentity = before;
    m_bRefused = true;
    return false;
  }
  const std::int32_t state = m_iLastKnownServerState;
  const bool use_ini = m_bUseIni;
  m_pRamFile->ReplaceLines(fresh.Lines());
  LoadIfNexessary();
  m_iLastKnownServerState = state;
  m_bUseIni = use_ini;
  m_LoadedIdentity = loaded_identity;
  m_bRefused = false;
  return true;
}

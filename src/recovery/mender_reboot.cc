// The reboot when restarts keep failing, and the automatic-logon values.

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "platform/key_store.h"
#include "platform/power.h"
#include "recovery/mender.h"

using snx::platform::RegResult;
using snx::platform::RegValue;

namespace {
constexpr const char* kBanner =
    "XXXXXXX**********************XXXXXXX*************************XXXXXXX";
}  // namespace

bool CMender::ReBoot() {
  LogError(kBanner);
  LogError(kBanner);
  LogError("RESTART FAILURE DETECTED. Attempting REBOOT and RESTART........");
  LogError(kBanner);
  LogError(kBanner);
  LogError("Failures Detected. Re-booting server....");
  // CAP_SYS_BOOT (or root) stands for the shutdown privilege.
  if (!m_Power.HasRebootPrivilege()) {
    LogError("Cannot adjust process for re-boot priviledge.");
    return false;
  }
  if (SetAutoRunStatus(true)) SetLastEnd(kEndReboot);
  if (m_pSettings != nullptr) {
    m_pSettings->m_iLastKnownServerState = QOR_FAILS_DETECTED_SERVER_REBOOTONG;
    m_pSettings->SaveSettings();
  }
  LogEvent(
      "CMender::ReBoot() has set m_iLastKnownServerState == QOR_FAILS_DETECTED_SERVER_REBOOTONG.");
  if (m_BeforeReboot) m_BeforeReboot();
  return m_Power.ForceReboot("Failures Detected. Re-booting server....");
}

void CMender::SetWinlogonValues() {
  // The key store of this platform starts without the system's keys: the key is made when it
  // is missing, as every Windows system has it.
  snx::platform::HKEY key = nullptr;
  if (m_Keys.CreateKey(snx::platform::HKEY_LOCAL_MACHINE, kWinlogonKey, key) != RegResult::kOk) {
    LogError("Error: Cannot open key");
  }
  struct Entry {
    const char* name;
    std::string_view data;
    const char* set_failed;
    const char* verify_failed;
  };
  const Entry entries[] = {
      {"DefaultUserName", m_sUserName.View(), "Error: Cannot set DefaultUserName value",
       "Error: Cannot verify DefaultUserName value"},
      {"DefaultPassword", "", "Error: Cannot set DefaultPassword value",
       "Error: Cannot verify DefaultPassword value"},
      {"AutoAdminLogon", "0", "Error: Cannot set AutoAdminLogon value",
       "Error: Cannot verify AutoAdminLogon value"},
  };
  for (const Entry& e : entries) {
    if (key == nullptr ||
        m_Keys.SetValue(key, e.name, RegValue::String(e.data)) != RegResult::kOk) {
      LogError(e.set_failed);
    }
    if (!VerifyWinlogonValue(e.name, e.data)) LogError(e.verify_failed);
  }
  if (key != nullptr) m_Keys.CloseKey(key);
}

bool CMender::VerifyWinlogonValue(std::string_view name, std::string_view expected) {
  // The read allows the expected text and its terminator: a longer stored value reads as "".
  CQorStr read;
  snx::platform::HKEY key = nullptr;
  if (m_Keys.OpenKey(snx::platform::HKEY_LOCAL_MACHINE, kWinlogonKey, key) == RegResult::kOk) {
    RegValue value;
    if (m_Keys.QueryValue(key, name, value) == RegResult::kOk &&
        value.type == snx::platform::RegType::kString && value.DataSize() <= expected.size() + 1 &&
        value.DataSize() <= 512) {
      read.Assign(value.text);
    }
    m_Keys.CloseKey(key);
  }
  return read.IsSame(expected);
}

#pragma once
// CItemManager: the monitored items, one list per item type, and the uptime record: every up
// and down report becomes one line of the "Uptime" log, from which availability can be worked
// out later.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/pointer_stack.h"
#include "core/qor_object.h"
#include "core/qor_str.h"
#include "files/log_file.h"
#include "probes/item.h"

class CItemManager : public CQorObject {
 public:
  static constexpr std::int64_t kUptimeSizeLimit = 10000000;
  static constexpr const char* kUptimeName = "Uptime";

  CItemManager() = default;
  CItemManager(const CItemManager&) = delete;
  CItemManager& operator=(const CItemManager&) = delete;
  ~CItemManager() override;

  // The folder the uptime record is kept in; set before ReInitialize.
  void SetFolder(std::string_view folder) { m_sFolder.Assign(folder); }
  const CQorStr& Folder() const { return m_sFolder; }

  // Told of every up and down report as it goes into the log (type, name, up).
  using ReportListener = std::function<void(std::int32_t, std::string_view, bool)>;
  void SetReportListener(ReportListener listener) { m_fnOnReport = std::move(listener); }

  bool ReInitialize();
  bool AddItem(std::int32_t type, std::string_view name);
  bool Update(std::int32_t type, std::string_view name, std::int32_t new_state, bool& changed);
  CItem* GetItemRef(std::int32_t type, std::string_view name);
  CItem* GetRefByImageName(std::int32_t type, std::string_view image_name);
  // Reports up every program item before the first whose image name is the same as the text
  // (all of them when none is); each such item takes the up state.
  void LogProgramsUp(std::string_view text);
  // Reports up every program item whose last report was down: its program runs again. The
  // caller knows that every watched program runs. Returns how many were reported.
  int LogProgramsBack();
  void ClearItems();
  // The expiry (Unix seconds) of a checked https URL's certificate. It goes into the uptime
  // record as a message line the first time it is known since the log was opened and whenever
  // it changes (a renewed certificate), never at every check.
  void NoteCertExpiry(std::string_view url, std::int64_t expiry);

  // The size at which the uptime record moves to its ".old" file (kUptimeSizeLimit until set);
  // takes effect at once and at every ReInitialize.
  void SetUptimeSizeLimit(std::int64_t bytes);

  bool IsLive() override { return m_bLive && CQorObject::IsLive(); }
  bool Live() const { return m_bLive; }
  int Count(std::int32_t type);
  int CountAll();
  // Changes whenever an item is added or the lists are cleared: two equal figures mean the
  // same items in the same order.
  std::uint64_t Generation() const { return m_iGeneration; }
  // Every item: local URLs, remote URLs, programs, spare items, the restart engine; each list in
  // the order its items were added.
  void ForEachItem(const std::function<void(const CItem&)>& visit);
  CLogFile& UptimeLog() { return m_UptimeLog; }

 private:
  CPointerStack* ListOf(std::int32_t type);
  // The first item of the type whose name (or image name) is the same as the text; else an
  // error line made of `failure` and the text.
  CItem* FindFirst(std::int32_t type, std::string_view text, CQorStr CItem::*field,
                   std::string_view failure);

  // The key under which an item of the type with this name is found: the name trimmed and
  // case-folded by the rule of CQorStr::IsSame, after the type. Two names that IsSame holds
  // for always share a key.
  static std::string NameKey(std::int32_t type, std::string_view name);

  // Writes one report line and tells the listener.
  void Report(std::int32_t type, std::string_view name, bool up);
  // A program item takes the up state now and is reported up.
  void ReportProgramUp(CItem& item);

  CQorStr m_sFolder;
  CLogFile m_UptimeLog;
  std::int64_t m_iUptimeSizeLimit = kUptimeSizeLimit;
  ReportListener m_fnOnReport;
  // The certificate expiry last written per URL since the log was opened.
  std::vector<std::pair<std::string, std::int64_t>> m_CertExpiries;
  bool m_bLive = false;
  // Every item under its NameKey, in the order the items were added: a name is looked up
  // without going through the whole list. Kept in step by AddItem and ClearItems.
  std::unordered_map<std::string, std::vector<CItem*>> m_NameIndex;
  std::uint64_t m_iGeneration = 0;
  CPointerStack m_Programs;    // ITEM_PROGRAM
  CPointerStack m_LocalUrls;   // ITEM_LOCAL_URL
  CPointerStack m_RemoteUrls;  // ITEM_REMOTE_URL
  CPointerStack m_Restart;     // ITEM_RESTART
  CPointerStack m_Spares;      // ITEM_SPARE
};

#include "probes/item_manager.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <string>

#include "core/log_writer.h"
#include "platform/ascii.h"
#include "platform/clock.h"

namespace {

std::string Joined(std::string_view a, std::string_view b) {
  std::string out(a);
  out.append(b);
  return out;
}

// "2027-01-03 12:00:00 UTC"
std::string UtcText(std::int64_t t) {
  const std::time_t when = static_cast<std::time_t>(t);
  std::tm tm{};
  char text[40] = {};
  if (gmtime_r(&when, &tm) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm) == 0) {
    return "?";
  }
  return text;
}

}  // namespace

CItemManager::~CItemManager() { ClearItems(); }

std::string CItemManager::NameKey(std::int32_t type, std::string_view name) {
  const std::string_view trimmed = CQorStr::Trimmed(name.substr(0, name.find('\0')));
  std::string key = std::to_string(type);
  key += ':';
  for (const char c : trimmed) key += snx::platform::AsciiUpper(c);
  return key;
}

CPointerStack* CItemManager::ListOf(std::int32_t type) {
  switch (type) {
    case ITEM_PROGRAM:
      return &m_Programs;
    case ITEM_LOCAL_URL:
      return &m_LocalUrls;
    case ITEM_REMOTE_URL:
      return &m_RemoteUrls;
    case ITEM_RESTART:
      return &m_Restart;
    case ITEM_SPARE:
      return &m_Spares;
    default:
      return nullptr;
  }
}

int CItemManager::Count(std::int32_t type) {
  CPointerStack* list = ListOf(type);
  return list != nullptr ? list->Count() : 0;
}

int CItemManager::CountAll() {
  int all = 0;
  for (const std::int32_t type :
       {ITEM_PROGRAM, ITEM_LOCAL_URL, ITEM_REMOTE_URL, ITEM_RESTART, ITEM_SPARE}) {
    all += Count(type);
  }
  return all;
}

bool CItemManager::ReInitialize() {
  m_bLive = false;
  SetState(kLive);
  ClearItems();
  // The log may be another one now (another folder): each certificate is written to it anew.
  m_CertExpiries.clear();
  m_UptimeLog.SetSizeLimit(m_iUptimeSizeLimit);
  m_UptimeLog.EnableBlankLines(true);
  // Doubled separators: the path mapping folds every run of separators into one.
  m_UptimeLog.SetDirectory(m_sFolder.EscapeSlashes());
  if (m_UptimeLog.Open(kUptimeName)) {
    m_UptimeLog.LogMessage("///////////////////////////////////////////");
    m_UptimeLog.LogMessage("/////////// ItemManager Started ///////////");
    m_bLive = true;
  }
  if (!m_bLive) ::LogError("CItemManager::ReInitialize() failed.");
  return m_bLive;
}

bool CItemManager::AddItem(std::int32_t type, std::string_view name) {
  CPointerStack* list = ListOf(type);
  if (list == nullptr) {
    ::LogError("CItemManager::AddItem() calle with unknown TYPE");
    ::LogError(Joined("CItemManager::AddItem() failed for ", name));
    return false;
  }
  auto item = std::make_unique<CItem>();
  if (!list->Push(item.get())) {
    ::LogError(Joined("CItemManager::AddItem() failed for ", name));
    return false;
  }
  CItem* stored = item.release();  // the list holds it from now on; ClearItems deletes it
  stored->m_iType = type;
  stored->m_sName.Assign(name);
  m_NameIndex[NameKey(type, stored->m_sName.View())].push_back(stored);
  ++m_iGeneration;
  return true;
}

CItem* CItemManager::FindFirst(std::int32_t type, std::string_view text, CQorStr CItem::*field,
                               std::string_view failure) {
  // Names are found through the index: only the items under the text's key can be the same as
  // it, and they are tried in the order of the list. A text too long for a CQorStr is not
  // trimmed by IsSame's rule (it stands for an empty one there): it goes through the list.
  if (field == &CItem::m_sName && ListOf(type) != nullptr &&
      text.size() <= static_cast<std::size_t>(CQorStr::kMaxLength)) {
    const auto found = m_NameIndex.find(NameKey(type, text));
    if (found != m_NameIndex.end()) {
      for (CItem* item : found->second) {
        if (item->m_sName.IsSame(text)) return item;
      }
    }
    ::LogError(Joined(failure, text));
    return nullptr;
  }
  if (CPointerStack* list = ListOf(type)) {
    const int count = list->Count();
    for (int i = 0; i < count; ++i) {
      auto* item = static_cast<CItem*>(list->GetAt(i));
      if (item != nullptr && (item->*field).IsSame(text)) return item;
    }
  }
  ::LogError(Joined(failure, text));
  return nullptr;
}

CItem* CItemManager::GetItemRef(std::int32_t type, std::string_view name) {
  return FindFirst(type, name, &CItem::m_sName, "CItemManager::GetItemRef() failed for ");
}

CItem* CItemManager::GetRefByImageName(std::int32_t type, std::string_view image_name) {
  return FindFirst(type, image_name, &CItem::m_sImageName,
                   "CItemManager::GetRefByImageName() failed for ");
}

bool CItemManager::Update(std::int32_t type, std::string_view name, std::int32_t new_state,
                          bool& changed) {
  changed = false;
  auto& clock = snx::platform::Use<snx::platform::Clock>();
  const double now = snx::platform::ToOleDate(clock.WallNow());
  CItem* item = GetItemRef(type, name);
  if (item == nullptr) {
    ::LogError(Joined("CItemManager::Update() failed for ", name));
    return false;
  }
  changed = item->SetState(new_state, now, CItem::kTimeValid);
  if (new_state == ITEM_STATE_UP || new_state == ITEM_STATE_DOWN) {
    Report(type, name, new_state == ITEM_STATE_UP);
  } else {
    m_UptimeLog.LogEvent("");
  }
  return true;
}

void CItemManager::Report(std::int32_t type, std::string_view name, bool up) {
  m_UptimeLog.LogEvent(Joined(std::to_string(type) + ", ", name) + (up ? ", UP" : ", DN"));
  if (m_fnOnReport) m_fnOnReport(type, name, up);
}

void CItemManager::NoteCertExpiry(std::string_view url, std::int64_t expiry) {
  if (expiry == 0 || url.empty()) return;
  auto known = std::find_if(m_CertExpiries.begin(), m_CertExpiries.end(),
                            [&](const auto& e) { return e.first == url; });
  if (known != m_CertExpiries.end() && known->second == expiry) return;
  // A line that could not be written (a full disk) is tried again at the next check.
  if (!m_UptimeLog.LogMessage(Joined("Certificate of ", url) + " expires at " + UtcText(expiry) +
                              " (epoch " + std::to_string(expiry) + ")")) {
    return;
  }
  if (known == m_CertExpiries.end()) {
    m_CertExpiries.emplace_back(std::string(url), expiry);
  } else {
    known->second = expiry;
  }
}

void CItemManager::SetUptimeSizeLimit(std::int64_t bytes) {
  m_iUptimeSizeLimit = bytes;
  m_UptimeLog.SetSizeLimit(bytes);
}

void CItemManager::ReportProgramUp(CItem& item) {
  auto& clock = snx::platform::Use<snx::platform::Clock>();
  item.SetState(ITEM_STATE_UP, snx::platform::ToOleDate(clock.WallNow()), CItem::kTimeValid);
  Report(ITEM_PROGRAM, item.m_sName.View(), true);
}

void CItemManager::LogProgramsUp(std::string_view text) {
  const int count = m_Programs.Count();
  for (int i = 0; i < count; ++i) {
    auto* item = static_cast<CItem*>(m_Programs.GetAt(i));
    if (item == nullptr) continue;
    if (item->m_sImageName.IsSame(text)) break;
    ReportProgramUp(*item);
  }
}

int CItemManager::LogProgramsBack() {
  int reported = 0;
  const int count = m_Programs.Count();
  for (int i = 0; i < count; ++i) {
    auto* item = static_cast<CItem*>(m_Programs.GetAt(i));
    if (item == nullptr || item->m_iState != ITEM_STATE_DOWN) continue;
    ReportProgramUp(*item);
    ++reported;
  }
  return reported;
}

void CItemManager::ClearItems() {
  m_NameIndex.clear();
  ++m_iGeneration;
  for (CPointerStack* list : {&m_LocalUrls, &m_Programs, &m_RemoteUrls, &m_Spares, &m_Restart}) {
    while (void* entry = list->Pop()) std::unique_ptr<CItem> owned(static_cast<CItem*>(entry));
  }
}

void CItemManager::ForEachItem(const std::function<void(const CItem&)>& visit) {
  for (CPointerStack* list : {&m_LocalUrls, &m_RemoteUrls, &m_Programs, &m_Spares, &m_Restart}) {
    const int count = list->Count();
    for (int i = 0; i < count; ++i) {
      if (const auto* item = static_cast<const CItem*>(list->GetAt(i))) visit(*item);
    }
  }
}

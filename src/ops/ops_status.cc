#include "ops/ops_status.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "ops/ops_codes.h"
#include "ops/url_outcome.h"
#include "platform/visible_text.h"
#include "probes/item_manager.h"

namespace {

using nlohmann::json;

// Texts in a Status line are cut to this many bytes, so that every line keeps within the
// answer line bound whatever the settings hold.
constexpr std::size_t kMaxShownText = 1000;

std::string Shown(std::string_view text) {
  std::string shown = snx::platform::VisibleText(text);
  if (shown.size() <= kMaxShownText) return shown;
  std::size_t cut = kMaxShownText;
  while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
  shown.resize(cut);
  return shown;
}

// A time as two keys: `key` in ISO 8601 (UTC) and `key`_epoch in seconds; null when unknown.
void PutTime(json& out, const std::string& key, const std::optional<std::int64_t>& when) {
  out[key] = when ? json(IsoUtc(*when)) : json(nullptr);
  out[key + "_epoch"] = when ? json(*when) : json(nullptr);
}

template <class T>
json OrNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

std::string Dump(const json& object) {
  return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

void COpsStatusTracker::NoteReport(std::int32_t type, std::string_view name, bool up,
                                   std::int64_t when) {
  Key key{type, std::string(name)};
  COpsItemStatus& seen = m_Seen[key];
  Note(std::move(key));
  const std::int32_t state = up ? ITEM_STATE_UP : ITEM_STATE_DOWN;
  if (seen.state != state) seen.since = when;
  seen.state = state;
  seen.last_check = when;
}

void COpsStatusTracker::NoteUrlTest(std::int32_t type, std::string_view url,
                                    const CUrlOutcome& outcome) {
  Key key{type, std::string(url)};
  COpsItemStatus& seen = m_Seen[key];
  Note(std::move(key));
  seen.http_status =
      outcome.result <= 0 ? std::optional<std::uint32_t>(outcome.status) : std::nullopt;
  seen.response_ms = outcome.elapsed.count();
  if (outcome.result > 0) {
    seen.error = "no answer";
  } else if (!outcome.good && outcome.status >= 200 && outcome.status <= 299) {
    seen.error = outcome.failure;  // a check of the page itself failed
  } else {
    seen.error.clear();
  }
}

COpsItemStatus COpsStatusTracker::Shown(std::int32_t type, std::string_view name) const {
  COpsItemStatus shown;
  const auto seen = m_Seen.find({type, std::string(name)});
  if (seen != m_Seen.end()) shown = seen->second;
  shown.type = type;
  shown.name = name;
  if (seen == m_Seen.end() || shown.state == 0) shown.state = ITEM_STATE_UNKNOWN;
  return shown;
}

COpsStatus COpsStatusTracker::Build(CItemManager& items) const {
  COpsStatus status;
  status.last_cycle = m_LastCycle;
  status.next_test = m_NextTest;
  status.items.reserve(static_cast<std::size_t>(items.CountAll()));
  items.ForEachItem(
      [&](const CItem& item) { status.items.push_back(Shown(item.m_iType, item.m_sName)); });
  return status;
}

void COpsStatusTracker::Note(Key key) {
  // A URL's test and its report come one after the other: one replacement shows both.
  if (m_Noted.empty() || m_Noted.back() != key) m_Noted.push_back(std::move(key));
}

void COpsStatusTracker::PublishAll(CItemManager& items, COpsStatusBoard& board) {
  if (m_PublishedGeneration == items.Generation()) {
    PublishNoted(items, board);
    board.SetTimes(m_LastCycle, m_NextTest);
    return;
  }
  COpsStatus status = Build(items);
  m_Positions.clear();
  for (std::size_t i = 0; i < status.items.size(); ++i) {
    m_Positions[{status.items[i].type, status.items[i].name}].push_back(i);
  }
  m_PublishedGeneration = items.Generation();
  m_Noted.clear();
  board.Publish(std::move(status));
}

void COpsStatusTracker::PublishNoted(CItemManager& items, COpsStatusBoard& board) {
  if (m_PublishedGeneration != items.Generation()) return PublishAll(items, board);
  for (const Key& key : m_Noted) {
    const auto at = m_Positions.find(key);
    if (at == m_Positions.end()) continue;  // no item of that name: nothing shown changes
    for (const std::size_t i : at->second) board.Replace(i, Shown(key.first, key.second));
  }
  m_Noted.clear();
}

const char* OpsStateName(std::int32_t state) {
  switch (state) {
    case 0:
      return "NOT_STARTED";
    case OPS_READY:
      return "OPS_READY";
    case OPS_STOPPED:
      return "OPS_STOPPED";
    case OPS_GO_IDLE:
      return "OPS_GO_IDLE";
    case OPS_GO_TESTING:
      return "OPS_GO_TESTING";
    case OPS_GO_RESTARTING:
      return "OPS_GO_RESTARTING";
    case OPS_FAILURES_SEEN:
      return "OPS_FAILURES_SEEN";
    case OPS_GO_REMOTE_FAILING:
      return "OPS_GO_REMOTE_FAILING";
    case OPS_STOPPING:
      return "OPS_STOPPING";
    default:
      return "UNKNOWN";
  }
}

const char* ItemKindName(std::int32_t type) {
  switch (type) {
    case ITEM_PROGRAM:
      return "program";
    case ITEM_LOCAL_URL:
      return "local_url";
    case ITEM_REMOTE_URL:
      return "remote_url";
    case ITEM_RESTART:
      return "restart";
    default:
      return "spare";
  }
}

const char* ItemStateName(std::int32_t state) {
  return state == ITEM_STATE_UP ? "up" : state == ITEM_STATE_DOWN ? "down" : "unknown";
}

std::string IsoUtc(std::int64_t epoch_seconds) {
  using namespace std::chrono;
  const sys_seconds t{seconds(epoch_seconds)};
  const sys_days day = floor<days>(t);
  const year_month_day ymd(day);
  const hh_mm_ss hms(t - day);
  char text[32];
  std::snprintf(text, sizeof(text), "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                static_cast<int>(hms.seconds().count()));
  return text;
}

std::string StatusHeadJson(const COpsStatus& status) {
  json head;
  head["ops_state"] = status.ops_state;
  head["ops_state_name"] = OpsStateName(status.ops_state);
  head["go_loop_running"] = status.go_loop_running;
  head["action"] = Shown(status.action);
  head["object"] = Shown(status.object);
  PutTime(head, "last_cycle", status.last_cycle);
  PutTime(head, "next_test", status.next_test);
  head["items"] = status.items.size();
  return Dump(head);
}

std::string StatusItemJson(const COpsItemStatus& item) {
  json out;
  out["kind"] = ItemKindName(item.type);
  out["type"] = item.type;
  out["name"] = Shown(item.name);
  out["state"] = ItemStateName(item.state);
  PutTime(out, "since", item.since);
  PutTime(out, "last_check", item.last_check);
  out["http_status"] = OrNull(item.http_status);
  out["response_ms"] = OrNull(item.response_ms);
  return Dump(out);
}

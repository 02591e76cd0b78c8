#pragma once
// The status of the watched items as the operations thread last saw them, for `snxctl status`:
// for each item its state, since when, when it was last checked, and for a URL the last
// answer's status code and how long the fetch took; beside them when the last cycle ended and
// when the next test is due.
//
// COpsStatusTracker gathers the figures on the operations thread; COpsStatusBoard is where
// that thread publishes a copy and the command object's socket threads read one, under a
// mutex. The JSON texts of the command socket's Status answer are made here too, so their keys
// stay in one place (docs/service.md).

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CItemManager;
class COpsStatusBoard;
struct CUrlOutcome;

struct COpsItemStatus {
  std::int32_t type = 0;   // ITEM_PROGRAM ... ITEM_SPARE
  std::string name;        // the settings entry, or "Restart"
  std::int32_t state = 0;  // ITEM_STATE_UNKNOWN, _DOWN or _UP
  // Seconds since the Unix epoch: when the present state began, and the last report.
  std::optional<std::int64_t> since;
  std::optional<std::int64_t> last_check;
  // URLs: the last fetch's status code (none when no answer came) and its time.
  std::optional<std::uint32_t> http_status;
  std::optional<std::int64_t> response_ms;
  std::string error;  // why the last test failed, when it says more than the status
  bool operator==(const COpsItemStatus&) const = default;
};

struct COpsStatus {
  // Filled by the command object as it answers (they change between publications).
  std::int32_t ops_state = 0;
  bool go_loop_running = false;
  std::string action;
  std::string object;
  // Published by the operations thread (seconds since the Unix epoch).
  std::optional<std::int64_t> last_cycle;
  std::optional<std::int64_t> next_test;  // only while Go mode waits for its next cycle
  std::vector<COpsItemStatus> items;
};

class COpsStatusTracker {
 public:
  // An up or down report of an item (the uptime record's line) at `when`.
  void NoteReport(std::int32_t type, std::string_view name, bool up, std::int64_t when);
  // A URL test's answer, before its report.
  void NoteUrlTest(std::int32_t type, std::string_view url, const CUrlOutcome& outcome);
  void SetNextTest(std::optional<std::int64_t> when) { m_NextTest = when; }
  void SetLastCycle(std::int64_t when) { m_LastCycle = when; }

  // The items of `items` in the order of the report (local URLs, remote URLs, programs, the
  // restart engine), each with what was noted of it.
  COpsStatus Build(CItemManager& items) const;

  // Publishes what Build gives. While the list of items is the one published last, only the
  // items noted since then are replaced, in place (a report does not copy every item of a long
  // list); PublishAll sets the times too, PublishNoted only the items.
  void PublishAll(CItemManager& items, COpsStatusBoard& board);
  void PublishNoted(CItemManager& items, COpsStatusBoard& board);

 private:
  using Key = std::pair<std::int32_t, std::string>;
  // An item of that type and name as Build shows it.
  COpsItemStatus Shown(std::int32_t type, std::string_view name) const;

  std::map<Key, COpsItemStatus> m_Seen;
  void Note(Key key);

  std::vector<Key> m_Noted;  // noted since the last publication
  // The positions of each item in the last whole publication, and the item list's generation
  // they were taken from.
  std::map<Key, std::vector<std::size_t>> m_Positions;
  std::optional<std::uint64_t> m_PublishedGeneration;
  std::optional<std::int64_t> m_LastCycle;
  std::optional<std::int64_t> m_NextTest;
};

class COpsStatusBoard {
 public:
  void Publish(COpsStatus status) {
    std::lock_guard lock(m_Mutex);
    m_Status = std::move(status);
  }
  void SetTimes(std::optional<std::int64_t> last_cycle, std::optional<std::int64_t> next_test) {
    std::lock_guard lock(m_Mutex);
    m_Status.last_cycle = last_cycle;
    m_Status.next_test = next_test;
  }
  // The item at `index` of the published status, when there is one.
  void Replace(std::size_t index, COpsItemStatus item) {
    std::lock_guard lock(m_Mutex);
    if (index < m_Status.items.size()) m_Status.items[index] = std::move(item);
  }
  COpsStatus Read() const {
    std::lock_guard lock(m_Mutex);
    return m_Status;
  }

 private:
  mutable std::mutex m_Mutex;
  COpsStatus m_Status;
};

// "OPS_GO_IDLE" for 1001 ...; "NOT_STARTED" for 0, "UNKNOWN" for others.
const char* OpsStateName(std::int32_t state);
// "local_url", "remote_url", "program", "restart", "spare".
const char* ItemKindName(std::int32_t type);
// "up", "down", "unknown".
const char* ItemStateName(std::int32_t state);
// "2026-03-01T12:00:00Z".
std::string IsoUtc(std::int64_t epoch_seconds);

// The Status answer's JSON lines (one object each, within the answer line bound): the head
// (everything but the items, with their number) and one per item.
std::string StatusHeadJson(const COpsStatus& status);
std::string StatusItemJson(const COpsItemStatus& item);

#pragma once
// CItem: one monitored thing (a local or remote URL, a watched program, the restart engine),
// with the state of its last report and when that report came.

#include <cstdint>

#include "core/qor_str.h"

// Item types.
constexpr std::int32_t ITEM_PROGRAM = 100;
constexpr std::int32_t ITEM_LOCAL_URL = 101;
constexpr std::int32_t ITEM_REMOTE_URL = 102;
constexpr std::int32_t ITEM_RESTART = 103;
constexpr std::int32_t ITEM_SPARE = 104;

// Item states.
constexpr std::int32_t ITEM_STATE_UNKNOWN = 100;  // no report yet
constexpr std::int32_t ITEM_STATE_DOWN = 101;
constexpr std::int32_t ITEM_STATE_UP = 102;

class CItem {
 public:
  // Validity status of a state time.
  static constexpr std::int32_t kTimeValid = 0;

  CItem() = default;
  CItem(const CItem&) = delete;
  CItem& operator=(const CItem&) = delete;

  // Takes the new state and its time; true when this counts as a change. The first report of
  // an item that is down is a change, the first report of an item that is up is not.
  bool SetState(std::int32_t new_state, double time, std::int32_t time_status) {
    bool changed;
    if (new_state == m_iState) {
      changed = false;
    } else if (m_iState == ITEM_STATE_UNKNOWN) {
      changed = new_state == ITEM_STATE_DOWN;
    } else {
      changed = true;
    }
    m_iState = new_state;
    m_dStateTime = time;
    m_iStateTimeStatus = time_status;
    return changed;
  }

  std::int32_t m_iType = ITEM_REMOTE_URL;
  CQorStr m_sName;
  CQorStr m_sImageName;
  std::int32_t m_iState = ITEM_STATE_UNKNOWN;
  double m_dStateTime = 0.0;  // days since 1899-12-30
  std::int32_t m_iStateTimeStatus = kTimeValid;
};

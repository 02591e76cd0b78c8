#pragma once
// What a cycle decides: the server is up; or it failed and is restarted; or it failed after
// RestartsB4Reboot restarts in a row (a limit of 0 or less never reboots) and the machine is
// rebooted.

#include <cstdint>

enum class CycleDecision { kUp, kRestart, kReboot };

inline CycleDecision DecideCycle(bool local_ok, std::int32_t restarts_in_a_row,
                                 std::int32_t restarts_b4_reboot) {
  if (local_ok) return CycleDecision::kUp;
  return restarts_b4_reboot > 0 && restarts_in_a_row >= restarts_b4_reboot
             ? CycleDecision::kReboot
             : CycleDecision::kRestart;
}

inline const char* CycleDecisionWord(CycleDecision decision) {
  switch (decision) {
    case CycleDecision::kUp:
      return "up";
    case CycleDecision::kRestart:
      return "restart";
    case CycleDecision::kReboot:
      return "reboot";
  }
  return "?";
}

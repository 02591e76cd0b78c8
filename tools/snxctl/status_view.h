#pragma once
// What snxctl status, state --json and watch make of the service's answers: the Status answer's
// lines as one JSON object, and that object as a table for a terminal (docs/service.md).

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace snxctl {

// The lines of a Status answer, from its STATUS line to the one before END, as one object: the
// STATUS line's keys with "items" the list of the ITEM lines' objects. None (and `why`) when a
// line is not what the answer holds.
std::optional<nlohmann::json> StatusObject(const std::vector<std::string>& lines, std::string& why);

// One line per item (kind, name, state, since, last check, HTTP status, time taken), then the
// operations state, the current action and when the next test is due. Times in local time;
// `now` for the "in 5m" of the next test.
std::string StatusTable(const nlohmann::json& status, std::int64_t now);

// "12:20:00" (local time) of a time in seconds since the epoch.
std::string LocalClock(std::int64_t epoch_seconds);
// "2026-03-01 12:20:00" (local time).
std::string LocalDateTime(std::int64_t epoch_seconds);

// The object of `snxctl state --json`: the state, its name, whether the Go loop runs, and the
// reboot storm guard's figures when the service tells them.
nlohmann::json StateObject(std::int32_t state, bool go_loop_running,
                           const std::optional<std::string>& guard,
                           const std::optional<std::string>& resumed);

// Prints an object as `--json` does: one object, two-space indents, a final LF.
void PrintJson(const nlohmann::json& object);

}  // namespace snxctl

#pragma once
// AlertEvent: what the operations thread tells the people on its alert lists, as one value.
// Go mode builds it where it decides that an alert goes out; the e-mail sender renders it as a
// block below the administrator's own text, and the webhook sender posts it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace snx::alerts {

enum class AlertKind { kDown, kUp, kRebootDecided, kRebootWithheld, kCertWarning };

// "down", "up", "reboot_decided", "reboot_withheld", "cert_warning".
const char* AlertKindName(AlertKind kind);

struct AlertItem {
  std::string kind;                          // "local_url", "remote_url", "program"
  std::string name;                          // the URL or the program
  std::string state;                         // "down", "up", "unknown"
  std::optional<std::uint32_t> http_status;  // the last answer's status; none without answer
  std::string error;                         // why it failed, when known
};

struct AlertEvent {
  AlertKind kind = AlertKind::kDown;
  std::string machine;
  std::string time;  // local time with its offset: "2026-12-07T19:00:29+01:00"
  std::vector<AlertItem> items;
  std::string action;                          // what the watchdog did and will do
  std::optional<std::int64_t> outage_seconds;  // up: how long the server was down
};

// "2026-12-07T19:00:29+01:00".
std::string IsoLocal(const platform::LocalTime& t);
// "1 h 5 min 3 s", "42 s".
std::string DurationText(std::int64_t seconds);
// One line that says what happened: "TESTHOST: the server is down".
std::string Headline(const AlertEvent& event);
// The block below the administrator's body: lines ended by "\n", without a leading blank line.
std::string MailBlock(const AlertEvent& event);

}  // namespace snx::alerts

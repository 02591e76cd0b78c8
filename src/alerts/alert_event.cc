#include "alerts/alert_event.h"

#include <cstdio>
#include <cstdlib>

#include "platform/visible_text.h"

namespace snx::alerts {

using platform::VisibleText;

const char* AlertKindName(AlertKind kind) {
  switch (kind) {
    case AlertKind::kDown:
      return "down";
    case AlertKind::kUp:
      return "up";
    case AlertKind::kRebootDecided:
      return "reboot_decided";
    case AlertKind::kRebootWithheld:
      return "reboot_withheld";
    case AlertKind::kCertWarning:
      return "cert_warning";
  }
  return "down";
}

std::string IsoLocal(const platform::LocalTime& t) {
  const int offset = std::abs(t.utc_offset_minutes);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month,
                t.day, t.hour, t.minute, t.second, t.utc_offset_minutes < 0 ? '-' : '+',
                offset / 60 % 100, offset % 60);
  return text;
}

std::string DurationText(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t days = seconds / 86400;
  const std::int64_t hours = seconds / 3600 % 24;
  const std::int64_t minutes = seconds / 60 % 60;
  std::string out;
  auto part = [&out](std::int64_t n, const char* unit) {
    if (!out.empty()) out += ' ';
    out += std::to_string(n) + ' ' + unit;
  };
  if (days > 0) part(days, "d");
  if (days > 0 || hours > 0) part(hours, "h");
  if (days > 0 || hours > 0 || minutes > 0) part(minutes, "min");
  part(seconds % 60, "s");
  return out;
}

std::string Headline(const AlertEvent& event) {
  const char* what = "the server is down";
  switch (event.kind) {
    case AlertKind::kDown:
      break;
    case AlertKind::kUp:
      what = "the server is up again";
      break;
    case AlertKind::kRebootDecided:
      what = "a reboot of the machine was decided";
      break;
    case AlertKind::kRebootWithheld:
      what = "a reboot was withheld by the reboot guard";
      break;
    case AlertKind::kCertWarning:
      what = "certificate warning";
      break;
  }
  return VisibleText(event.machine) + ": " + what;
}

namespace {

std::string ItemLine(const AlertItem& item) {
  std::string line = "  " + item.kind + " " + VisibleText(item.name) + ": " + item.state;
  if (item.http_status) line += ", HTTP " + std::to_string(*item.http_status);
  if (!item.error.empty()) line += ", " + VisibleText(item.error);
  return line + "\n";
}

}  // namespace

std::string MailBlock(const AlertEvent& event) {
  std::string out = "-- " + Headline(event) + "\n";
  out += "Machine: " + VisibleText(event.machine) + "\n";
  out += "Time: " + event.time + "\n";
  if (event.outage_seconds) out += "Outage lasted: " + DurationText(*event.outage_seconds) + "\n";
  bool failing = false;
  for (const AlertItem& item : event.items) failing = failing || item.state == "down";
  out += failing ? "What failed:\n" : "Items:\n";
  for (const AlertItem& item : event.items) {
    if (!failing || item.state == "down") out += ItemLine(item);
  }
  if (event.items.empty()) out += "  (no item reported)\n";
  if (!event.action.empty()) out += "Watchdog: " + VisibleText(event.action) + "\n";
  out += "To look: snxctl status, and the service log SNXSVC.log in the program folder.\n";
  return out;
}

}  // namespace snx::alerts

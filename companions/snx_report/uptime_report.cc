#include "uptime_report.h"

#include <algorithm>
#include <cstdio>

#include "platform/visible_text.h"

namespace snx::report {
namespace {

int TypeOrder(std::int32_t type) {
  switch (type) {
    case kLocalUrlItem:
      return 0;
    case kRemoteUrlItem:
      return 1;
    case kProgramItem:
      return 2;
    case kSpareItem:
      return 3;
    default:
      return 4;
  }
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

UptimeReport BuildReport(const UptimeRecord& record, Window window, UnixSeconds now) {
  UptimeReport report;
  report.record = &record;
  report.window = window;
  report.now = now;
  for (const ItemReports& item : record.items) {
    ItemRow row;
    row.item = &item;
    row.spans = SpansOf(item, now);
    row.figures = FiguresOf(item, row.spans, window);
    report.rows.push_back(std::move(row));
  }
  std::stable_sort(report.rows.begin(), report.rows.end(), [](const ItemRow& a, const ItemRow& b) {
    return TypeOrder(a.item->type) < TypeOrder(b.item->type);
  });
  return report;
}

std::string TypeLabel(std::int32_t type) {
  switch (type) {
    case kProgramItem:
      return "program";
    case kLocalUrlItem:
      return "local URL";
    case kRemoteUrlItem:
      return "remote URL";
    case kRestartItem:
      return "restart";
    default:
      return "spare";
  }
}

std::string DurationText(std::int64_t seconds) {
  char text[48];
  if (seconds < 60) {
    std::snprintf(text, sizeof text, "%llds",
                  static_cast<long long>(std::max<std::int64_t>(0, seconds)));
  } else if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%lldm %02llds", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  } else if (seconds < 86400) {
    std::snprintf(text, sizeof text, "%lldh %02lldm", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60));
  } else {
    std::snprintf(text, sizeof text, "%lldd %02lldh", static_cast<long long>(seconds / 86400),
                  static_cast<long long>(seconds / 3600 % 24));
  }
  return text;
}

std::string CertificateText(std::int64_t expiry, UnixSeconds now) {
  const CivilTime c = CivilFromSeconds(expiry);
  char date[24];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", c.year, c.month, c.day);
  const std::int64_t days = (expiry >= now ? expiry - now : now - expiry) / 86400;
  const std::string count = Plural(static_cast<std::uint64_t>(days), "day", "days");
  return expiry >= now ? "expires " + std::string(date) + " (in " + count + ")"
                       : "expired " + std::string(date) + " (" + count + " ago)";
}

std::string AvailabilityText(const ItemFigures& f) {
  if (!f.availability) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", ShownAvailability(*f.availability));
  return text;
}

std::string RenderTable(const UptimeReport& report, LocalTimeScale& scale) {
  const UptimeRecord& record = *report.record;
  std::string out = "Uptime report " + scale.LogStamp(report.window.from) + " to " +
                    scale.LogStamp(report.window.to) + " (local time)\n";
  out += "Read";
  for (std::size_t i = 0; i < record.files.size(); ++i) {
    out += (i == 0 ? " " : ", ") + platform::VisibleText(record.files[i]);
  }
  out += ": " + Plural(record.reports, "report", "reports") + ", " +
         Plural(record.skipped, "line skipped", "lines skipped");
  if (record.too_long > 0) out += " (" + std::to_string(record.too_long) + " too long)";
  out += "\n\n";
  if (report.rows.empty()) return out + "No item has reported.\n";

  char line[512];
  std::snprintf(line, sizeof line, "%-10s %9s %7s %-9s %-9s %-4s %-17s  %s\n", "TYPE", "AVAILABLE",
                "OUTAGES", "LONGEST", "MTTR", "NOW", "SINCE", "NAME");
  out += line;
  for (const ItemRow& row : report.rows) {
    const ItemFigures& f = row.figures;
    const std::string name = platform::VisibleText(row.item->name);
    const std::string since = f.state == ItemState::kNoReport ? "-" : scale.LogStamp(f.since);
    if (row.item->type == kRestartItem) {
      const std::string last =
          f.state == ItemState::kNoReport ? "-" : scale.LogStamp(f.last_report);
      const std::string counts = Plural(f.up_reports, "restart", "restarts") + ", " +
                                 Plural(f.down_reports, "reboot", "reboots");
      std::snprintf(line, sizeof line, "%-10s %-42s %-17s  ", "restart", counts.c_str(),
                    last.c_str());
    } else {
      const char* now = f.state == ItemState::kUp ? "UP" : f.state == ItemState::kDown ? "DN" : "-";
      const std::string longest = f.outages > 0 ? DurationText(f.longest_outage) : "-";
      const std::string mttr =
          f.mean_time_to_recovery ? DurationText(*f.mean_time_to_recovery) : "-";
      std::snprintf(line, sizeof line, "%-10s %9s %7d %-9s %-9s %-4s %-17s  ",
                    TypeLabel(row.item->type).c_str(), AvailabilityText(f).c_str(), f.outages,
                    longest.c_str(), mttr.c_str(), now, since.c_str());
    }
    out += line + name;
    if (row.item->cert_expiry) {
      out += "  (certificate " + CertificateText(*row.item->cert_expiry, report.now) + ")";
    }
    out += "\n";
  }
  return out;
}

}  // namespace snx::report

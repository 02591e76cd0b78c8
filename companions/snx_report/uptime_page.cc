// The report as one HTML page: no script, no style sheet, font or picture from elsewhere, so it
// can be mailed, archived and printed as it is. Each item has an inline SVG timeline over the
// window: green while up, red while down, grey before its first report (and after the window's
// "now"). The "Restart" item's timeline marks each restart (amber) and reboot (red).

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/visible_text.h"
#include "uptime_report.h"

namespace snx::report {
namespace {

constexpr int kColumns = 1000;  // the timeline's width in SVG units
constexpr int kLeastMark = 3;   // the narrowest outage or restart drawn, so a short one shows
constexpr const char* kUpColour = "#2e9e44";
constexpr const char* kDownColour = "#d62828";
constexpr const char* kNoneColour = "#c8c8c8";
constexpr const char* kRestartColour = "#e69500";

constexpr const char* kHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Uptime report</title>
<style>
body{font:15px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,Helvetica,Arial,sans-serif;margin:0 auto;max-width:64rem;padding:1rem;color:#1a1a1a;background:#fff}
h1{font-size:1.4rem;margin:0 0 .3rem}
.meta,.legend{color:#444;margin:0 0 .6rem}
.legend span{display:inline-block;margin-right:1rem;white-space:nowrap}
.key{display:inline-block;width:.9em;height:.9em;vertical-align:-.1em;margin-right:.3em;border:1px solid #777}
.item{border-top:1px solid #ccc;padding:.6rem 0;break-inside:avoid;page-break-inside:avoid}
.item h2{font-size:1rem;margin:0;overflow-wrap:anywhere}
.item h2 small{color:#555;font-weight:normal;margin-left:.4rem}
.figures{margin:.2rem 0 .4rem;display:flex;flex-wrap:wrap;gap:.1rem 1.2rem}
.figures b{font-weight:600}
.down-now{color:#b00000}
svg.timeline{display:block;width:100%;height:1.5rem;border:1px solid #999;box-sizing:border-box}
.axis{display:flex;justify-content:space-between;color:#555;font-size:.8rem}
@media print{body{max-width:none;font-size:10pt;padding:0}*{-webkit-print-color-adjust:exact;print-color-adjust:exact}}
</style>
</head>
<body>
)";

// Text from the log, made visible (no control characters) and safe inside an element or an
// attribute.
std::string Html(std::string_view raw) {
  const std::string text = platform::VisibleText(raw);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string Key(const char* colour, const char* label) {
  return std::string("<span><i class=\"key\" style=\"background:") + colour + "\"></i>" + label +
         "</span>";
}

std::string Rect(int x, int width, const char* colour) {
  return "<rect x=\"" + std::to_string(x) + "\" y=\"0\" width=\"" + std::to_string(width) +
         "\" height=\"20\" fill=\"" + colour + "\"/>";
}

// What each column of the timeline shows; an outage anywhere in a column shows, however short.
enum Mark : unsigned char { kNone = 0, kUp = 1, kDown = 2, kRestart = 4, kReboot = 8 };
using Columns = std::array<unsigned char, kColumns>;

class Scale {
 public:
  explicit Scale(Window w) : from_(w.from), length_(std::max<std::int64_t>(1, w.to - w.from)) {}
  double X(UnixSeconds t) const {
    return std::clamp(static_cast<double>(t - from_) * kColumns / static_cast<double>(length_), 0.0,
                      static_cast<double>(kColumns));
  }

 private:
  UnixSeconds from_;
  std::int64_t length_;
};

void MarkSpans(const ItemRow& row, Window w, Columns& columns) {
  const Scale scale(w);
  for (const Span& span : row.spans) {
    if (span.end <= w.from || span.start >= w.to || span.end == span.start) continue;
    const int first = static_cast<int>(std::floor(scale.X(span.start)));
    const int last = std::min(kColumns, static_cast<int>(std::ceil(scale.X(span.end))));
    for (int c = first; c < std::max(last, first + 1) && c < kColumns; ++c) {
      columns[c] |= span.up ? kUp : kDown;
    }
  }
}

void MarkRestarts(const ItemRow& row, Window w, Columns& columns) {
  const Scale scale(w);
  for (const Report& r : row.item->reports) {
    if (r.Time() < w.from || r.Time() >= w.to) continue;
    const int c = std::min(kColumns - 1, static_cast<int>(scale.X(r.Time())));
    columns[c] |= r.Up() ? kRestart : kReboot;
  }
}

const char* ColourOf(unsigned char mark) {
  if (mark & kReboot) return kDownColour;
  if (mark & kRestart) return kRestartColour;
  if (mark & kDown) return kDownColour;
  return (mark & kUp) ? kUpColour : nullptr;
}

std::string Timeline(const ItemRow& row, Window w) {
  Columns columns{};
  if (row.item->type == kRestartItem) {
    MarkRestarts(row, w, columns);
  } else {
    MarkSpans(row, w, columns);
  }
  std::string svg =
      "<svg class=\"timeline\" viewBox=\"0 0 1000 20\" preserveAspectRatio=\"none\" "
      "shape-rendering=\"crispEdges\" role=\"img\" aria-label=\"timeline of " +
      Html(row.item->name) + "\">" + Rect(0, kColumns, kNoneColour);
  // Green first, then the marks over it: a short outage widened to be seen is not hidden by
  // the up time that follows it.
  for (const bool marks : {false, true}) {
    for (int c = 0; c < kColumns;) {
      const char* colour = ColourOf(columns[c]);
      int end = c + 1;
      while (end < kColumns && ColourOf(columns[end]) == colour) ++end;
      if (colour != nullptr && (colour != kUpColour) == marks) {
        const int width = marks ? std::max(end - c, kLeastMark) : end - c;
        svg += Rect(std::min(c, kColumns - width), width, colour);
      }
      c = end;
    }
  }
  return svg + "</svg>\n";
}

std::string Figures(const ItemRow& row, LocalTimeScale& scale, UnixSeconds now) {
  const ItemFigures& f = row.figures;
  auto figure = [](const std::string& label, const std::string& value) {
    return "<span>" + label + " <b>" + value + "</b></span>";
  };
  std::string out = "<p class=\"figures\">";
  if (row.item->type == kRestartItem) {
    out += figure("Restarts", std::to_string(f.up_reports));
    out += figure("Reboots", std::to_string(f.down_reports));
    if (f.state != ItemState::kNoReport) out += figure("Last", scale.LogStamp(f.last_report));
    return out + "</p>\n";
  }
  out += figure("Available", AvailabilityText(f));
  out += figure("Outages", std::to_string(f.outages));
  if (f.outages > 0) out += figure("Longest", DurationText(f.longest_outage));
  if (f.mean_time_to_recovery) out += figure("MTTR", DurationText(*f.mean_time_to_recovery));
  if (f.state == ItemState::kNoReport) {
    out += figure("Now", "no report");
  } else {
    const bool up = f.state == ItemState::kUp;
    out += std::string("<span") + (up ? "" : " class=\"down-now\"") + ">Now <b>" +
           (up ? "UP" : "DOWN") + "</b> since " + scale.LogStamp(f.since) + "</span>";
  }
  if (row.item->cert_expiry) {
    out += "<span>Certificate <b>" + CertificateText(*row.item->cert_expiry, now) + "</b></span>";
  }
  return out + "</p>\n";
}

}  // namespace

std::string RenderPage(const UptimeReport& report, LocalTimeScale& scale) {
  const UptimeRecord& record = *report.record;
  const std::string from = scale.LogStamp(report.window.from);
  const std::string to = scale.LogStamp(report.window.to);
  std::string page = kHead;
  page += "<h1>Uptime report</h1>\n<p class=\"meta\">" + Html(from) + " to " + Html(to) +
          " (local time). " + std::to_string(record.reports) + " reports read";
  for (std::size_t i = 0; i < record.files.size(); ++i) {
    page += (i == 0 ? " from " : ", ") + Html(record.files[i]);
  }
  page += "; " + std::to_string(record.skipped) + (record.skipped == 1 ? " line" : " lines") +
          " skipped.</p>\n<p class=\"legend\">" + Key(kUpColour, "up") +
          Key(kDownColour, "down or reboot") + Key(kNoneColour, "no report") +
          Key(kRestartColour, "restart") + "</p>\n";
  if (report.rows.empty()) page += "<p>No item has reported.</p>\n";
  for (const ItemRow& row : report.rows) {
    page += "<section class=\"item\">\n<h2>" + Html(row.item->name) + "<small>" +
            TypeLabel(row.item->type) + "</small></h2>\n" + Figures(row, scale, report.now) +
            Timeline(row, report.window) + "<div class=\"axis\"><span>" + Html(from) +
            "</span><span>" + Html(to) + "</span></div>\n</section>\n";
  }
  return page + "</body>\n</html>\n";
}

}  // namespace snx::report

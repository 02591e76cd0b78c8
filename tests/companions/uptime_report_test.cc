#include "uptime_report.h"

#include <gmock/gmock.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "platform/fake/fake_clock.h"
#include "platform/file_system.h"
#include "probes/item_manager.h"
#include "support/test_support.h"
#include "uptime_json.h"
#include "uptime_record.h"

namespace snx::report {
namespace {

// The uptime report from hand-made logs: what is read and skipped, spans, figures, the table
// and the page.
using platform::FakeClock;
using ::testing::HasSubstr;
using ::testing::Not;

std::string Line(std::string_view stamp, std::string_view text,
                 std::string_view kind = " (event): ") {
  return std::string(stamp) + std::string(kind) + std::string(text) + "\r\r\n";
}

// Event lines of the log, each written as its stamp and its text ("12/01/26 00:00:00 101, x, UP").
std::string Events(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (const std::string_view l : lines) out += Line(l.substr(0, 17), l.substr(18));
  return out;
}

UnixSeconds Utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return CivilSeconds({y, mo, d, h, mi, s});
}

// Each field of the JSON object `want` as `item` holds it ("absent" when it is left out).
void ExpectFields(const nlohmann::json& item, std::string_view want) {
  const nlohmann::json fields = nlohmann::json::parse(want);
  for (auto f = fields.begin(); f != fields.end(); ++f) {
    EXPECT_EQ(item.value(f.key(), nlohmann::json("absent")), f.value()) << f.key();
  }
}

class UptimeReportTest : public ::testing::Test {
 protected:
  UptimeRecord Read(const std::string& old_log, const std::string& log) {
    if (!old_log.empty()) dir_.Write("Uptime.old", old_log);
    if (!log.empty()) dir_.Write("Uptime.log", log);
    UptimeRecord record;
    std::string why;
    EXPECT_TRUE(ReadUptimeRecord(platform::Files(), scale_, dir_.path(), record, why)) << why;
    return record;
  }
  const ItemReports& Item(const UptimeRecord& r, std::string_view name) {
    for (const ItemReports& item : r.items) {
      if (item.name == name) return item;
    }
    ADD_FAILURE() << "no item " << name;
    return r.items.front();
  }

  snx::test::TempDir dir_;
  FakeClock clock_{FakeClock::FromUtc(2026, 12, 2)};
  LocalTimeScale scale_{clock_};
};

// One day of a local URL, down 10:00:00-10:14:24 (reported down twice) and 20:00:00-20:00:30.
const std::string kWebDay =
    Events({"12/01/26 00:00:00 101, http://web/, UP", "12/01/26 10:00:00 101, http://web/, DN",
            "12/01/26 10:05:00 101, http://web/, DN", "12/01/26 10:14:24 101, http://web/, UP",
            "12/01/26 20:00:00 101, http://web/, DN", "12/01/26 20:00:30 101, http://web/, UP"});

TEST_F(UptimeReportTest, JsonGivesTheTablesFiguresInSecondsAndUtc) {
  // The day worked out above, a remote URL never reported in the window, restarts and a reboot,
  // and a line skipped; six hours west, so that the times in UTC are not the log's.
  clock_.SetUtcOffset(std::chrono::minutes(-360));
  const UptimeRecord r = Read(
      "", kWebDay +
              Events({"12/03/26 00:00:00 102, http://far/\x1b, DN",
                      "12/01/26 08:00:00 103, Restart, UP", "12/01/26 09:00:00 103, Restart, DN",
                      "12/01/26 10:00:00 103, Restart, UP", "12/01/26 11:00:00 103, Restart, UP"}) +
              "not the log's\r\r\n");
  const Window day{Utc(2026, 12, 1, 6), Utc(2026, 12, 2, 6)};
  const UptimeReport report = BuildReport(r, day, Utc(2026, 12, 4));
  const std::string table = RenderTable(report, scale_);
  const nlohmann::json j = nlohmann::json::parse(RenderJson(report));

  ExpectFields(j, R"({"since": "2026-12-01T06:00:00Z", "reports": 11, "lines_skipped": 1})");
  EXPECT_EQ(j["until_epoch"], day.to);
  ASSERT_EQ(j["items"].size(), 3u);
  const nlohmann::json& web = j["items"][0];
  EXPECT_THAT(table,
              HasSubstr("local URL    98.96 %       2 14m 24s   7m 27s    UP   12/01/26 20:00:30"));
  // Down 10:00:00-10:14:24 (864 s) and 20:00:00-20:00:30 (30 s): (86400 - 894) / 86400.
  ExpectFields(web, R"({"kind": "local_url", "availability_percent": 98.96, "outages": 2,
      "down_seconds": 894, "up_seconds": 85506, "longest_outage_seconds": 864, "mttr_seconds": 447, "state": "up",
      "since": "2026-12-02T02:00:30Z", "restarts": null})");
  // An outage cut by the window counts whole, and its time only inside; a little down time
  // never shows as 100.00 %.
  const ItemReports& cut = Item(r, "http://web/");
  const ItemFigures f =
      FiguresOf(cut, SpansOf(cut, day.to), {Utc(2026, 12, 1, 16, 10), Utc(2026, 12, 1, 18)});
  EXPECT_EQ(std::tuple(f.down_seconds, f.outages, f.longest_outage), std::tuple(264, 1, 864));
  EXPECT_EQ(ShownAvailability(100.0 * 86399 / 86400), 99.99);

  // Unknown figures are null, never left out; names are shown escaped.
  const nlohmann::json& far = j["items"][1];
  ExpectFields(far, R"({"name": "http://far/\\x1b", "state": "unknown",
      "availability_percent": null, "since_epoch": null, "longest_outage_seconds": null})");
  EXPECT_EQ(far.size(), web.size());

  const nlohmann::json& restart = j["items"][2];
  // Since the last restart, not the first of the last run of them.
  ExpectFields(restart, R"({"restarts": 3, "reboots": 1, "availability_percent": null,
      "since": "2026-12-01T17:00:00Z"})");
  EXPECT_THAT(table,
              HasSubstr("3 restarts, 1 reboot                       12/01/26 11:00:00  Restart"));
}

TEST_F(UptimeReportTest, SpansFollowTheReportsWhateverTheirOrderAndFile) {
  // The .old copy alone knows the program; the log starts with a DN and holds its reports out
  // of time order; "RESTART" is the same item as "Restart".
  const UptimeRecord r = Read(
      Events({"11/30/26 23:00:00 100, nginx, UP", "11/30/26 23:30:00 103, Restart, UP"}),
      Events({"12/01/26 03:00:00 101, http://web/, UP", "12/01/26 01:00:00 101, http://web/, DN",
              "12/01/26 02:00:00 103, RESTART, UP", "12/01/26 04:00:00 103, Restart, DN"}));
  ASSERT_EQ(r.items.size(), 3u);
  EXPECT_EQ(r.reports, 6u);
  EXPECT_EQ(r.files.size(), 2u);
  const Window day{Utc(2026, 12, 1), Utc(2026, 12, 2)};

  const ItemReports& web = Item(r, "http://web/");
  const std::vector<Span> spans = SpansOf(web, Utc(2026, 12, 2));
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(std::tuple(spans[0].up, spans[0].start, spans[0].end),
            std::tuple(false, Utc(2026, 12, 1, 1), Utc(2026, 12, 1, 3)));
  const ItemFigures f = FiguresOf(web, spans, day);
  // The hour before the first report is no report.
  EXPECT_EQ(std::tuple(f.down_seconds, f.up_seconds, f.outages), std::tuple(7200, 21 * 3600, 1));

  const ItemReports& nginx = Item(r, "nginx");
  const ItemFigures n = FiguresOf(nginx, SpansOf(nginx, Utc(2026, 12, 2)), day);
  EXPECT_EQ(std::tuple(n.availability, n.since), std::tuple(100.0, Utc(2026, 11, 30, 23)));

  const ItemReports& restart = Item(r, "Restart");
  const ItemFigures rs = FiguresOf(restart, SpansOf(restart, Utc(2026, 12, 2)), day);
  EXPECT_EQ(std::tuple(rs.up_reports, rs.down_reports), std::tuple(1, 1));  // those of the day

  // An item down at the window's end: an outage without recovery, so no mean time to it.
  const ItemFigures open = FiguresOf(web, spans, {Utc(2026, 12, 1), Utc(2026, 12, 1, 2)});
  EXPECT_EQ(
      std::tuple(open.state, open.longest_outage, open.mean_time_to_recovery, open.availability),
      std::tuple(ItemState::kDown, 3600, std::nullopt, 0.0));
}

TEST_F(UptimeReportTest, LinesTheWatchdogDidNotWriteAreSkippedAndCounted) {
  const std::string good = Line("12/01/26 01:00:00", "102, https://a.example/x, y, DN");
  const UptimeRecord r = Read(
      "", Line("12/01/26 00:00:00", "///////////////////////////////////////////", " Message: ") +
              "\r\r\n" + Line("12/01/26 00:00:00", "") + good + "garbage without a stamp\r\r\n" +
              Line("13/01/26 00:00:00", "101, x, UP") +     // no month 13
              Line("02/30/26 00:00:00", "101, x, UP") +     // no 30 February
              Line("12/01/26 00:00:00", "105, x, UP") +     // no such type
              Line("12/01/26 00:00:00", "101, x, MAYBE") +  // no such state
              Line("12/01/26 00:00:00", "101, x, UP", " Note: ") +
              std::string("\0\xff\x1b[2J\n", 7) +
              Line("12/01/26 00:00:00", "101, " + std::string(kMaxLineBytes, 'n') + ", UP") +
              "12/01/26 02:00:00 (event): 102, https://a.example/x, y, UP");  // no end of line
  EXPECT_EQ(std::tuple(r.reports, r.other_lines, r.skipped, r.too_long),
            std::tuple(2u, 3u, 8u, 1u));
  ASSERT_EQ(r.items.size(), 1u);
  // A name may hold ", ".
  EXPECT_EQ(std::tuple(r.items[0].name, r.items[0].reports.size()),
            std::tuple("https://a.example/x, y", 2u));
}

TEST_F(UptimeReportTest, LogTimesAreLocalAndBoundsTakeEveryForm) {
  clock_.SetUtcOffset(std::chrono::minutes(-360));  // six hours west
  EXPECT_EQ(scale_.ToUnix(*ParseLogStamp("12/01/26 00:00:00")), Utc(2026, 12, 1, 6));
  EXPECT_EQ(scale_.LogStamp(Utc(2026, 12, 1, 6)), "12/01/26 00:00:00");
  const UnixSeconds end = Utc(2026, 12, 10);
  const std::pair<const char*, UnixSeconds> cases[] = {
      {"24h", end - 86400},
      {"7d", end - 7 * 86400},
      {"12/01/26", Utc(2026, 12, 1, 6)},
      {"12/01/26 13:30:00", Utc(2026, 12, 1, 19, 30)},
      {"2026-12-01", Utc(2026, 12, 1, 6)},
      {"2026-12-01T13:30:00", Utc(2026, 12, 1, 19, 30)},
  };
  for (const auto& [text, since] : cases)
    EXPECT_EQ(scale_.ParseBound(text, end, true), since) << text;
  for (const char* bad : {"0h", "1w", "-7d", "02/29/26", "2026-12-01 25:00:00", "12/01/26 13:30",
                          "2026-12-01junk", ""}) {
    EXPECT_EQ(scale_.ParseBound(bad, end, true), std::nullopt) << bad;
  }
  EXPECT_FALSE(scale_.ParseBound("24h", end, false));  // an end is a date
}

TEST_F(UptimeReportTest, TableAndPageShowEveryItemAndEscapeItsName) {
  const std::string hostile = "http://x/<script>alert('1')</script>&\x1b[31m";
  const UptimeRecord r = Read("", Line("12/01/26 00:00:00", "101, " + hostile + ", UP") +
                                      Line("12/01/26 12:00:00", "101, " + hostile + ", DN") +
                                      Events({"12/01/26 06:00:00 102, http://far/, UP",
                                              "12/01/26 18:00:00 102, http://far/, DN",
                                              "12/01/26 18:01:00 102, http://far/, UP",
                                              "12/01/26 08:00:00 103, Restart, UP"}));
  const UptimeReport report =
      BuildReport(r, {Utc(2026, 12, 1), Utc(2026, 12, 2)}, Utc(2026, 12, 2));
  const std::string table = RenderTable(report, scale_);
  EXPECT_THAT(table, HasSubstr("50.00 %"));
  EXPECT_THAT(table, HasSubstr("1 restart, 0 reboots"));
  EXPECT_EQ(table.find('\x1b'), std::string::npos);

  const std::string page = RenderPage(report, scale_);
  const std::regex timeline("<svg class=\"timeline\"");
  EXPECT_EQ(std::distance(std::sregex_iterator(page.begin(), page.end(), timeline), {}), 3);
  for (const char* never : {"<script", "src=", "\x1b"}) EXPECT_THAT(page, Not(HasSubstr(never)));
  EXPECT_THAT(page, HasSubstr("&lt;script&gt;alert(&#39;1&#39;)&lt;/script&gt;&amp;"));
  // Half the day green, then red to the end; the remote URL grey until 06:00, and its one
  // minute down drawn wide enough to see, over the green.
  EXPECT_THAT(page,
              HasSubstr("<rect x=\"0\" y=\"0\" width=\"500\" height=\"20\" fill=\"#2e9e44\"/>"
                        "<rect x=\"500\" y=\"0\" width=\"500\" height=\"20\" fill=\"#d62828\"/>"));
  const auto green =
      page.find("<rect x=\"751\" y=\"0\" width=\"249\" height=\"20\" fill=\"#2e9e44\"/>");
  ASSERT_NE(green, std::string::npos);
  EXPECT_THAT(page.substr(green),
              HasSubstr("<rect x=\"750\" y=\"0\" width=\"3\" height=\"20\" fill=\"#d62828\"/>"));
}

TEST_F(UptimeReportTest, CertificateLinesGiveTheLatestExpiryOfTheirUrl) {
  // Written when first learnt and when renewed; the latest one counts, matched without case,
  // and a certificate line is the log's own, never skipped.
  const std::string renewed =
      "Certificate of HTTPS://Web/ expires at 2027-01-03 00:00:00 UTC (epoch " +
      std::to_string(Utc(2027, 1, 3)) + ")";
  const UptimeRecord r =
      Read("", Line("12/01/26 00:00:00", "101, https://web/, UP") +
                   Line("12/01/26 00:00:01",
                        "Certificate of https://web/ expires at 2026-12-20 00:00:00 UTC (epoch " +
                            std::to_string(Utc(2026, 12, 20)) + ")",
                        " Message: ") +
                   Line("12/01/26 05:00:00", renewed, " Message: ") +
                   Line("12/01/26 05:00:01", "Certificate of https://web/ expires", " Message: ") +
                   Line("12/01/26 06:00:00", "102, https://far/, UP"));
  EXPECT_EQ(r.skipped, 0u);

  const UptimeReport report =
      BuildReport(r, {Utc(2026, 12, 1), Utc(2026, 12, 7)}, Utc(2026, 12, 7));
  const std::string page = RenderPage(report, scale_);
  EXPECT_THAT(page, HasSubstr("Certificate <b>expires 2027-01-03 (in 27 days)</b>"));
  EXPECT_THAT(RenderTable(report, scale_),
              HasSubstr("(certificate expires 2027-01-03 (in 27 days))"));
  const nlohmann::json j = nlohmann::json::parse(RenderJson(report));
  ExpectFields(j["items"][0], R"({"cert_expiry": "2027-01-03T00:00:00Z"})");
  EXPECT_EQ(j["items"][0]["cert_expiry_epoch"], Utc(2027, 1, 3));
  ExpectFields(j["items"][1], R"({"cert_expiry": null, "cert_expiry_epoch": null})");
}

// The uptime record moves to its ".old" file at its limit while the watchdog runs, and the
// report reads every report of both files.
TEST_F(UptimeReportTest, ARecordMovedAwayWhileRunningIsReadWhole) {
  test::ScopedEnv root("SNX_ROOT", dir_.path().c_str());  // the log's named lock lives under it
  test::ScopedEnv tz("TZ", "UTC");
  platform::ScopedInstall<platform::Clock> use_clock(clock_);

  CItemManager items;
  items.SetFolder(dir_.path());
  items.SetUptimeSizeLimit(2000);
  ASSERT_TRUE(items.ReInitialize());
  ASSERT_TRUE(items.AddItem(ITEM_LOCAL_URL, "http://web/"));
  // About 50 bytes a report: the record moves away once, after about 40 of them.
  const int reports = 60;
  for (int i = 0; i < reports; ++i) {
    clock_.Advance(std::chrono::minutes(10));
    bool changed = false;
    ASSERT_TRUE(items.Update(ITEM_LOCAL_URL, "http://web/", i % 2 ? ITEM_STATE_UP : ITEM_STATE_DOWN,
                             changed));
  }
  EXPECT_LE(std::filesystem::file_size(dir_.File("Uptime.old")), 2100u);
  EXPECT_LT(std::filesystem::file_size(dir_.File("Uptime.log")), 2000u);

  const UptimeRecord record = Read("", "");
  EXPECT_EQ(std::tuple(record.files.size(), record.skipped), std::tuple(2u, 0u));
  ASSERT_EQ(record.items.size(), 1u);
  const auto& got = record.items[0].reports;
  ASSERT_EQ(got.size(), static_cast<std::size_t>(reports));
  EXPECT_FALSE(got.front().Up());
  EXPECT_TRUE(got.back().Up());
}

}  // namespace
}  // namespace snx::report

// The e-mail alerts from the settings: which settings stop an alert and what is logged, the
// first 32 addresses, and the connect URL that tells a missing Internet
// connection from a bad server name.

#include "alerts/emailer.h"

#include <gmock/gmock.h>

#include <algorithm>

#include "alerts/smtp_script.h"
#include "files/settings_file_writer.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_http_client.h"

namespace {

using snx::platform::FakeClock;
using snx::platform::FakeHttpClient;
using snx::platform::FakeMailTransport;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using Lines = std::vector<std::string>;

const Lines kGoodKeys = [] {
  Lines keys = snx::test::EmailKeys("mail.example", "HTTP://probe.example/");
  keys.insert(keys.begin(), "[KEYS]");
  return keys;
}();

class EmailerTest : public ::testing::Test {
 protected:
  EmailerTest() {
    net_.AddHost("mail.example", "192.0.2.7");
    snx::test::AcceptAllMail(net_);
  }
  // Loads the settings from these lines and an [EMAILS] section of `addresses`.
  void Load(Lines keys, const Lines& addresses = {"a@example.org"}) {
    keys.push_back("[EMAILS]");
    keys.insert(keys.end(), addresses.begin(), addresses.end());
    snx::test::LoadSettings(dir_, keys, image_, settings_);
    ASSERT_TRUE(emailer_.Initialize(&settings_));
    log_.Clear();
  }
  // The good keys without `key`, or with another value for it.
  static Lines Without(const std::string& key, const char* value = nullptr) {
    Lines out;
    for (const auto& l : kGoodKeys) {
      if (l.rfind(key + "=", 0) != 0) out.push_back(l);
    }
    if (value != nullptr) out.push_back(key + "=" + value);
    return out;
  }

  snx::test::TempDir dir_;
  FakeClock clock_;
  FakeMailTransport net_{&clock_};
  FakeHttpClient http_;
  snx::platform::ScopedInstall<snx::platform::HttpClient> install_{http_};
  snx::test::CapturingLog log_;
  CRamFileRO image_;
  CAllSets settings_;
  CEmailer emailer_{net_, clock_};
};

TEST_F(EmailerTest, IncompleteSettingsStopTheAlertBeforeAnyNetworkActivity) {
  // The keys, the addresses and the reason the alert is stopped.
  const std::tuple<Lines, Lines, const char*> cases[] = {
      {kGoodKeys, {}, "Warning: no email recipents are defined."},
      {Without("SmtpServer"), {"a@x"}, "Warning: no SMTP email server is defined."},
      {Without("EmailBodyDown"), {"a@x"}, "Warning: no email down message body is defined."},
      {Without("EmailBodyUp"), {"a@x"}, "Warning: no email up message body is defined."},
      {Without("EmailFrom"), {"a@x"}, "Warning: no email 'from address' is defined."},
      {Without("EmailUrl"), {"a@x"}, "Warning: no 'Email Connect Url' is defined."},
      {Without("EmailUrl", "ftp://probe.example/"),
       {"a@x"},
       "Incorrect EmailUrl format. Use 'http://' header."},
  };
  for (const auto& [keys, addresses, reason] : cases) {
    SCOPED_TRACE(reason);
    Load(keys, addresses);
    EXPECT_FALSE(emailer_.SendAlertEmail(true));
    EXPECT_FALSE(emailer_.ValidateSettings(true));
    EXPECT_THAT(log_.Errors(), ElementsAre("CEmailer::ValidateSettings() failed.", reason,
                                           "CEmailer::ValidateSettings() failed."));
  }
  EXPECT_EQ(net_.resolve_count(), 0);
  EXPECT_THAT(net_.connects(), IsEmpty());
  EXPECT_THAT(http_.requests(), IsEmpty());
}

TEST_F(EmailerTest, AnEmptySubjectIsOnlyAWarning) {
  Load(Without("EmailSubject"));
  ASSERT_TRUE(emailer_.ReloadEmailList());
  EXPECT_TRUE(emailer_.ValidateSettings(true));
  EXPECT_THAT(log_.Errors(), ElementsAre("Warning: no email subject line is defined."));
  EXPECT_TRUE(emailer_.SendAlertEmail(false));
  EXPECT_THAT(net_.SentBytes(), HasSubstr("Subject: \r\n\r\nAll is well again.\r\n.\r\n"));
}

TEST_F(EmailerTest, TheFirst32AddressesReceiveTheAlertAndTheListFollowsTheSettings) {
  Lines forty;
  for (int i = 0; i < 40; ++i) forty.push_back("  user" + std::to_string(i) + "@example.org ");
  Load(kGoodKeys, forty);
  ASSERT_TRUE(emailer_.SendAlertEmail(true));
  const std::string sent = net_.SentBytes();
  EXPECT_THAT(sent, HasSubstr("Rcpt To:<user0@example.org> \r\n"));
  EXPECT_THAT(sent, HasSubstr("Rcpt To:<user31@example.org> \r\nDATA"));
  EXPECT_THAT(sent, Not(HasSubstr("user32@")));
  EXPECT_EQ(settings_.m_EmailList.Count(), 40);

  // A changed [EMAILS] takes effect at the next alert; the address found stays.
  image_.RemoveLineFromSection("[EMAILS]", "user0@example.org");
  ASSERT_TRUE(emailer_.SendRemoteUrlEmail(false, "http://far.example/"));
  EXPECT_EQ(settings_.m_EmailList.Count(), 39);
  EXPECT_EQ(net_.resolve_count(), 1);
  EXPECT_THAT(net_.SentBytes(),
              HasSubstr("Subject: Restored Remote URL: http://far.example/\r\n\r\n"
                        "This Remote URL is now OK: http://far.example/\r\n"));
}

TEST_F(EmailerTest, AServerNameThatDoesNotResolveIsToldFromAMissingConnection) {
  Load(Without("SmtpServer", "nowhere.example"));
  EXPECT_FALSE(emailer_.SendAlertEmail(true));  // the page cannot be fetched either
  EXPECT_TRUE(log_.HasEvent("CWsEmail::Inet Not Connected"));
  EXPECT_FALSE(log_.HasError("(CEmailer) Cannot email. No Internet connection is attainable."));

  http_.Answer("probe.example", 80, "/", 200);
  log_.Clear();
  EXPECT_FALSE(emailer_.SendAlertEmail(true));
  EXPECT_TRUE(log_.HasEvent("CWsEmail::Inet Connected"));
  EXPECT_TRUE(log_.HasError("(CEmailer) Cannot email. No Internet connection is attainable."));
  EXPECT_TRUE(log_.HasError("(CEmailer) Is browser set in 'Work Offline' mode perhaps?"));
  EXPECT_THAT(net_.connects(), IsEmpty());

  // An https connect URL is fetched over TLS like any other check.
  Lines keys = Without("EmailUrl", "https://probe.example/");
  std::replace(keys.begin(), keys.end(), std::string("SmtpServer=mail.example"),
               std::string("SmtpServer=nowhere.example"));
  Load(keys);
  http_.Answer("probe.example", 443, "/", 200);
  http_.ClearRequests();
  EXPECT_FALSE(emailer_.SendAlertEmail(true));
  EXPECT_TRUE(log_.HasEvent("CWsEmail::Inet Connected"));
  ASSERT_EQ(http_.requests().size(), 1u);
  EXPECT_TRUE(http_.requests()[0].https);
}

}  // namespace

TEST(AlertEventText, DurationsReadAsAPersonWouldSayThem) {
  EXPECT_EQ(snx::alerts::DurationText(42), "42 s");
  EXPECT_EQ(snx::alerts::IsoLocal({2026, 12, 7, 9, 5, 3, -330}), "2026-12-07T09:05:03-05:30");
}

TEST_F(EmailerTest, AnAlertSaysWhatHappenedBelowTheAdministratorsText) {
  using snx::alerts::AlertKind;
  snx::alerts::AlertEvent event{
      AlertKind::kDown,
      "WEB1",
      "2026-12-07T19:00:29+01:00",
      {{"local_url", "http://127.0.0.1:8080/", "down", 503, ""},
       {"remote_url", "http://far.example/", "down", std::nullopt, "no answer"},
       {"program", "/usr/sbin/nginx", "down", std::nullopt, ""},
       {"local_url", "http://127.0.0.1:8081/", "up", 200, ""}},
      "restarting the applications: restart 1 of 3; more",
      std::nullopt};
  Load(kGoodKeys);
  // The message sent, from its subject on.
  const auto sent = [&](bool down) {
    EXPECT_TRUE(emailer_.SendAlertEmail(down, &event));
    const std::string all = net_.SentBytes();
    return all.substr(all.rfind("Subject: "));
  };
  const std::string end =
      "To look: snxctl status, and the service log SNXSVC.log in the program folder.\r\n"
      "\r\n.\r\nQUIT\r\n";
  EXPECT_EQ(sent(true),
            "Subject: Server down\r\n\r\nThe server is down.\r\n\r\n"
            "-- WEB1: the server is down\r\nMachine: WEB1\r\nTime: 2026-12-07T19:00:29+01:00\r\n"
            "What failed:\r\n  local_url http://127.0.0.1:8080/: down, HTTP 503\r\n"
            "  remote_url http://far.example/: down, no answer\r\n"
            "  program /usr/sbin/nginx: down\r\n"
            "Watchdog: restarting the applications: restart 1 of 3; more\r\n" +
                end);
  event.kind = AlertKind::kUp;
  event.items = {{"local_url", "http://127.0.0.1:8080/", "up", 200, ""}};
  event.action.clear();
  event.outage_seconds = 90061;
  EXPECT_EQ(
      sent(false),
      "Subject: Server up\r\n\r\nAll is well again.\r\n\r\n"
      "-- WEB1: the server is up again\r\nMachine: WEB1\r\nTime: 2026-12-07T19:00:29+01:00\r\n"
      "Outage lasted: 1 d 1 h 1 min 1 s\r\nItems:\r\n"
      "  local_url http://127.0.0.1:8080/: up, HTTP 200\r\n" +
          end);
}

// https URLs in the operations thread: a certificate that is not trusted fails a local URL and
// leads to the restart as any failure does; a certificate near its end warns once a day (log
// and mail) without taking the server down, and its expiry reaches the metrics and the uptime log.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ops/ops_fixture.h"

namespace snx::test {
namespace {

constexpr const char* kHttpsUrl = "https://site.test/";
constexpr std::int64_t kDay = 86400;

class HttpsUrlTest : public OpsTest {
 protected:
  // The site answers 200 over https with a certificate that ends `days` from now.
  void Trusted(double days) {
    http_.Answer(kSiteHost, 443, "/", 200);
    http_.Scripted(kSiteHost, 443, "/").cert_expiry =
        UnixSecondsOf(clock_) + static_cast<std::int64_t>(days * kDay);
  }
  void Untrusted(const char* reason) {
    http_.Fail(kSiteHost, 443, "/", 60, "SSL certificate problem");
    http_.Scripted(kSiteHost, 443, "/").cert_problem = reason;
  }
  int Warnings() const {
    const std::string bytes = mail_.SentBytes();
    int n = 0;
    for (auto at = bytes.find("Subject: The certificate of https://site.test/ expires in ");
         at != std::string::npos; at = bytes.find("Subject: The certificate of", at + 1)) {
      ++n;
    }
    return n;
  }
};

TEST_F(HttpsUrlTest, AnUntrustedCertificateRestartsAsAnyFailure) {
  Load(With({"CaFile=/etc/snx/ca.pem", "Proxy=proxy.test:3128"}, {"[URLS]", kHttpsUrl}));
  Trusted(100);
  on_wait = [&](int cycle) {
    if (cycle >= 2) return Stop();
    Untrusted("expired");
  };
  StartAndGo();
  EXPECT_GE(Restarts(), 1);
  EXPECT_EQ(MailsWithSubject("Server down"), 1);
  EXPECT_TRUE(log_.HasError("CGetWebPage:: certificate not trusted: expired"));
  ASSERT_FALSE(http_.requests().empty());
  const auto& request = http_.requests().front();
  EXPECT_TRUE(request.https);
  EXPECT_EQ(request.ca_file, "/etc/snx/ca.pem");
  EXPECT_EQ(request.proxy, "proxy.test:3128");
}

TEST_F(HttpsUrlTest, ANearExpiryWarnsOnceADayAndReachesTheMetrics) {
  Load(With({}, {"[URLS]", kHttpsUrl}));
  thread_.Initialize();
  Trusted(5.5);
  const std::int64_t expiry = http_.Scripted(kSiteHost, 443, "/").cert_expiry;
  // Checks within a day warn once; a day after the first, once more.
  const struct {
    int hours_later;
    int mails;
  } checks[] = {{0, 1}, {1, 1}, {22, 1}, {1, 2}, {1, 2}};
  for (const auto& c : checks) {
    clock_.Advance(std::chrono::hours(c.hours_later));
    EXPECT_TRUE(thread_.RunUrls());  // a warning, not a failure
    EXPECT_EQ(Warnings(), c.mails) << c.hours_later;
  }
  EXPECT_EQ(ItemState(ITEM_LOCAL_URL, kHttpsUrl), ITEM_STATE_UP);
  EXPECT_TRUE(log_.HasError("Warning: the certificate of https://site.test/ expires in 4 days (" +
                            CertDate(expiry) + ")."));
  const auto snapshot = thread_.Metrics().Snapshot(0);
  ASSERT_EQ(snapshot.cert_expiries.size(), 1u);
  EXPECT_EQ(snapshot.cert_expiries[0].expiry, expiry);
  EXPECT_THAT(snx::metrics::FormatMetrics(snapshot),
              ::testing::HasSubstr("snxsvc_cert_expiry_timestamp_seconds{type=\"local_url\",name="
                                   "\"https://site.test/\"} " +
                                   std::to_string(expiry) + "\n"));
}

TEST_F(HttpsUrlTest, CertWarnDaysZeroOrAFarExpiryNeverWarn) {
  for (const auto& [keys, days] :
       {std::pair<Lines, double>{{"CertWarnDays=0"}, 1.5}, std::pair<Lines, double>{{}, 14.5}}) {
    Load(With(keys, {"[URLS]", kHttpsUrl}));
    thread_.Initialize();
    Trusted(days);
    EXPECT_TRUE(thread_.RunUrls());
    EXPECT_EQ(mail_.SentBytes().find("The certificate of"), std::string::npos);
  }
}

TEST_F(HttpsUrlTest, TheUptimeLogHearsOfACertificateOnceAndAgainWhenRenewed) {
  Load(With({}, {"[URLS]", kHttpsUrl}));
  thread_.Initialize();
  auto lines = [&] {
    const std::string log = dir_.Read("Uptime.log");
    int n = 0;
    for (auto at = log.find(" Message: Certificate of https://site.test/ expires at ");
         at != std::string::npos; at = log.find(" Message: Certificate of", at + 1)) {
      ++n;
    }
    return n;
  };
  Trusted(100);
  const std::int64_t first = http_.Scripted(kSiteHost, 443, "/").cert_expiry;
  for (int cycle = 0; cycle < 3; ++cycle) EXPECT_TRUE(thread_.RunUrls());
  EXPECT_EQ(lines(), 1);
  EXPECT_NE(dir_.Read("Uptime.log").find(" (epoch " + std::to_string(first) + ")\r"),
            std::string::npos);
  Trusted(400);  // renewed
  for (int cycle = 0; cycle < 2; ++cycle) EXPECT_TRUE(thread_.RunUrls());
  EXPECT_EQ(lines(), 2);
}

}  // namespace
}  // namespace snx::test

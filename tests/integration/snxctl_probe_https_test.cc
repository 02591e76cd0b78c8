// snxctl probe over https against a real TLS server (Python's ssl) with certificates made by
// openssl: each certificate's verdict and reason, the extra CA file, and the redirect from
// https to http refused.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "integration/subprocess.h"
#include "support/loopback_http_server.h"
#include "support/tls_peer.h"

namespace {

using snx::test::Snxctl;
using snx::test::TlsPeer;
using ::testing::HasSubstr;
using Args = std::vector<std::string>;

const bool kNoProxy = setenv("no_proxy", "*", 1) == 0;

TEST(SnxctlProbeHttpsTest, EachCertificateGetsItsVerdict) {
  TlsPeer peer;
  ASSERT_TRUE(peer.Ready()) << "the TLS peer did not start (openssl, python3)";
  const std::string ca = TlsPeer::CaFile();
  snx::test::LoopbackHttpServer plain(
      [](const std::string&) { return snx::test::LoopbackHttpServer::Answer(200, {}, "plain"); });
  const struct {
    std::string url;
    bool trust_ca;
    int result, status;
    std::string said;
  } cases[] = {
      {peer.Url("valid"), true, 0, 200, "certificate: expires in 365 days"},
      {peer.Url("valid", "/missing"), true, 0, 404, "good: no"},
      {peer.Url("expiring"), true, 0, 200, "certificate: expires in 3 days"},
      // Not trusted without the CA file: the system's authorities do not know the test CA.
      {peer.Url("valid"), false, 2, 1, "certificate: not trusted: unknown issuer"},
      {peer.Url("expired"), true, 2, 1, "certificate: not trusted: expired"},
      {peer.Url("notyet"), true, 2, 1, "certificate: not trusted: not yet valid"},
      {peer.Url("wronghost"), true, 2, 1, "certificate: not trusted: host name mismatch"},
      {peer.Url("selfsigned"), true, 2, 1, "certificate: not trusted: self-signed"},
      {peer.Url("unknown"), true, 2, 1, "certificate: not trusted: unknown issuer"},
      // One redirect within https is followed; one down to http is refused.
      {peer.Url("valid", "/redirect?to=" + peer.Url("expiring")), true, 0, 200, "good: yes"},
      {peer.Url("valid", "/redirect?to=" + plain.Url()), true, 2, 1,
       "Error: CGetWebPage:: an https page redirected to http (refused): "},
  };
  for (const auto& c : cases) {
    Args args = {"probe", "--timeout", "10"};
    if (c.trust_ca) args.insert(args.end(), {"--ca-file", ca});
    args.push_back(c.url);
    const auto run = Snxctl(args);
    const bool good = c.result == 0 && c.status / 100 == 2;
    EXPECT_EQ(run.exit_code, good ? 0 : 1) << c.url << "\n" << run.out;
    EXPECT_THAT(run.out, HasSubstr("result: " + std::to_string(c.result) +
                                   "\nstatus code: " + std::to_string(c.status) + "\n"))
        << c.url;
    EXPECT_THAT(run.out, HasSubstr(c.said)) << c.url << "\n" << run.out;
  }
  EXPECT_EQ(plain.request_count(), 0);  // the downgrade was never fetched

  const auto json =
      nlohmann::json::parse(Snxctl({"probe", "--json", "--ca-file", ca, peer.Url("expiring")}).out);
  EXPECT_EQ(json["cert_days_left"], 3);
  const auto refused = nlohmann::json::parse(Snxctl({"probe", "--json", peer.Url("valid")}).out);
  EXPECT_EQ(refused["certificate"], "not trusted: unknown issuer");
  EXPECT_TRUE(refused["cert_days_left"].is_null());
}

// A proxy in the environment never takes a check; the one given does.
TEST(SnxctlProbeHttpsTest, OnlyTheProxyGivenIsUsed) {
  snx::test::LoopbackHttpServer site(
      [](const std::string&) { return snx::test::LoopbackHttpServer::Answer(200, {}, "site"); });
  snx::test::LoopbackHttpServer proxy(
      [](const std::string&) { return snx::test::LoopbackHttpServer::Answer(200, {}, "proxy"); });
  {
    snx::test::ScopedEnv no_exceptions("no_proxy", nullptr);
    snx::test::ScopedEnv environment("http_proxy", "http://127.0.0.1:9");
    EXPECT_EQ(Snxctl({"probe", site.Url()}).exit_code, 0);
  }
  EXPECT_EQ(Snxctl({"probe", "--proxy", "127.0.0.1:" + std::to_string(proxy.port()), site.Url()})
                .exit_code,
            0);
  EXPECT_EQ(site.request_count(), 1);
  ASSERT_EQ(proxy.request_count(), 1);
  EXPECT_THAT(proxy.requests()[0], HasSubstr("GET " + site.Url() + " HTTP/1.1"));
}

TEST(SnxctlProbeHttpsTest, OtherSchemesAndBadCaFiles) {
  const auto ftp = Snxctl({"probe", "ftp://127.0.0.1/"});
  EXPECT_EQ(ftp.exit_code, 1);
  EXPECT_THAT(ftp.out, HasSubstr("CGetWebPage:: can only use URLs beginning with http:////"));
  EXPECT_EQ(Snxctl({"probe", "--ca-file", "/no/such/ca.pem", "https://127.0.0.1/"}).exit_code, 2);
  EXPECT_EQ(Snxctl({"probe", "--proxy"}).exit_code, 2);
}

}  // namespace

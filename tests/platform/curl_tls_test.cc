// The TLS side of the libcurl facility: certificate times as OpenSSL writes them, and the trusted
// authorities of a CA file added to the system's (never replacing them) and read again when the
// file changes.

#include "platform/posix/curl_tls.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/http_client.h"
#include "support/tls_peer.h"

namespace snx::platform {
namespace {

const bool kNoProxy = setenv("no_proxy", "*", 1) == 0;

TEST(CurlTlsTest, CertificateTimesAsOpenSslWritesThem) {
  const struct {
    const char* text;
    std::int64_t seconds;
  } cases[] = {
      {"Dec 10 18:51:15 2026 GMT", 1796928675},
      {"Jan  1 00:00:00 2030 GMT", 1893456000},
      {"", 0},
      {"tomorrow", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseCertTime(c.text), c.seconds) << c.text;
}

TEST(CurlTlsTest, TheCaFileIsTrustedAndItsChangesAreSeen) {
  test::TlsPeer peer({"valid"});
  ASSERT_TRUE(peer.Ready());
  test::TempDir dir;
  const auto fetch = [&](const std::string& ca_file) {
    HttpRequest request;
    request.host = "127.0.0.1";
    request.port = static_cast<std::uint16_t>(std::stoi(peer.Url("valid").substr(18)));
    request.https = true;
    request.ca_file = ca_file;
    request.want_cert_expiry = true;
    return DefaultFacility<HttpClient>().Fetch(request);
  };
  EXPECT_EQ(fetch(dir.File("missing.pem")).cert_problem,
            "the CA file " + dir.File("missing.pem") + " cannot be read");
  EXPECT_EQ(fetch("").cert_problem, "unknown issuer");
  dir.Write("ca.pem", "not a certificate\n");
  EXPECT_FALSE(fetch(dir.File("ca.pem")).answered);
  // The same path with the test CA written into it now: the store is read again.
  std::filesystem::copy_file(test::TlsPeer::CaFile(), dir.File("ca.pem"),
                             std::filesystem::copy_options::overwrite_existing);
  const HttpResult trusted = fetch(dir.File("ca.pem"));
  EXPECT_TRUE(trusted.answered) << trusted.error_message;
  EXPECT_GT(trusted.cert_expiry, 0);
}

}  // namespace
}  // namespace snx::platform

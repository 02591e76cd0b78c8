#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/http_client.h"
#include "platform/posix/curl_tls.h"
#include "support/loopback_http_server.h"
#include "support/tls_peer.h"

// The libcurl HTTP facility against loopback servers of the test's own. Refusals and time-outs
// are exercised end to end by the integration tests (snxctl probe).
namespace snx::platform {
namespace {

using test::LoopbackHttpServer;

// Loopback only: a proxy set in the environment must never take the tests' requests.
const bool kNoProxy = setenv("no_proxy", "*", 1) == 0;

HttpRequest To(std::uint16_t port, const std::string& path = "/") {
  HttpRequest r;
  r.host = "127.0.0.1";
  r.port = port;
  r.path = path;
  r.headers = {"Accept: text/*", "User-Agent: MFC_Tear_Sample"};
  return r;
}

TEST(CurlHttpClientTest, SendsOurHeadersAndReportsRedirectsWithoutFollowing) {
  LoopbackHttpServer server([](const std::string&) {
    return "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n" +
           LoopbackHttpServer::Answer(302, {"Location: /elsewhere"}, "moved");
  });
  const HttpResult result = Use<HttpClient>().Fetch(To(server.port(), "/a/b?c=d"));
  ASSERT_TRUE(result.answered) << result.error_message;
  EXPECT_EQ(result.status, 302u);
  // Only the final answer's lines, each ended by CR LF.
  EXPECT_EQ(result.raw_headers,
            "HTTP/1.1 302 Test\r\nLocation: /elsewhere\r\nContent-Length: 5\r\n"
            "Connection: close\r\n\r\n");
  EXPECT_EQ(result.body, "");  // not asked for
  ASSERT_EQ(server.request_count(), 1);
  // Ours replace curl's own "Accept: */*" and user agent.
  EXPECT_EQ(server.requests()[0],
            "GET /a/b?c=d HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                "\r\nAccept: text/*\r\nUser-Agent: MFC_Tear_Sample\r\n\r\n");
}

TEST(CurlHttpClientTest, BodyIsKeptUpToTheLimit) {
  const std::string body(200000, 'b');
  LoopbackHttpServer server(
      [&](const std::string&) { return LoopbackHttpServer::Answer(200, {}, body); });
  HttpRequest r = To(server.port());
  // The limit, the bytes kept and whether the body was cut.
  for (const auto& [limit, kept, cut] :
       {std::tuple<std::size_t, std::size_t, bool>{body.size(), body.size(), false},
        {1000, 1000, true},
        {0, 0, false}}) {
    r.max_body_bytes = limit;
    const HttpResult result = Use<HttpClient>().Fetch(r);
    ASSERT_TRUE(result.answered) << limit << ": " << result.error_message;
    EXPECT_EQ(std::tuple(result.status, result.body, result.body_cut),
              std::tuple(200u, body.substr(0, kept), cut))
        << limit;
  }
}

// The TLS side: certificate times as OpenSSL writes them, and the trusted authorities of a CA
// file added to the system's (never replacing them) and read again when the file changes.
TEST(CurlTlsTest, CertificateTimesAsOpenSslWritesThem) {
  for (const auto& [text, seconds] :
       {std::pair<const char*, std::int64_t>{"Dec 10 18:51:15 2026 GMT", 1796928675},
        {"Jan  1 00:00:00 2030 GMT", 1893456000},
        {"", 0},
        {"tomorrow", 0}}) {
    EXPECT_EQ(ParseCertTime(text), seconds) << text;
  }
}

TEST(CurlTlsTest, TheCaFileIsTrustedAndItsChangesAreSeen) {
  test::TlsPeer peer({"valid"});
  ASSERT_TRUE(peer.Ready());
  test::TempDir dir;
  const auto fetch = [&](const std::string& ca_file) {
    HttpRequest request = To(static_cast<std::uint16_t>(std::stoi(peer.Url("valid").substr(18))));
    request.https = true;
    request.ca_file = ca_file;
    request.want_cert_expiry = true;
    return Use<HttpClient>().Fetch(request);
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

// A peer that keeps every connection open for more requests: each request of ours must still
// come on a connection of its own, and nothing of one request may carry over to the next.
TEST(CurlHttpClientTest, EachRequestConnectsAfreshAndStartsFromNothing) {
  std::uint16_t port = 0;
  const int listener = snx::test::ListenOnLoopback(port);
  ASSERT_GE(listener, 0);
  int connections = 0;
  std::string heads;
  std::thread peer([&] {
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    for (int served = 0; served < 3 && ::poll(fds.data(), fds.size(), 5000) > 0;) {
      if (fds[0].revents & POLLIN) {
        fds.push_back({::accept(listener, nullptr, nullptr), POLLIN, 0});
        ++connections;
      }
      for (std::size_t i = 1; i < fds.size(); ++i) {
        char buffer[4096];
        const ssize_t n =
            (fds[i].revents & POLLIN) ? ::recv(fds[i].fd, buffer, sizeof buffer, 0) : -1;
        if (n <= 0) continue;
        heads.append(buffer, static_cast<std::size_t>(n));
        ::send(fds[i].fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 40, MSG_NOSIGNAL);
        ++served;
      }
    }
    for (const pollfd& p : fds) ::close(p.fd);
  });
  HttpRequest r = To(port);
  r.total_timeout = std::chrono::seconds(2);
  r.max_body_bytes = 16;  // the whole body read: the connection could be used again
  r.headers = {"X-First: 1"};
  EXPECT_TRUE(Use<HttpClient>().Fetch(r).answered);
  r.headers.clear();
  r.method = "POST";
  EXPECT_TRUE(Use<HttpClient>().Fetch(r).answered);
  r.method = "GET";
  EXPECT_TRUE(Use<HttpClient>().Fetch(r).answered);
  peer.join();
  EXPECT_EQ(connections, 3);
  EXPECT_EQ(heads.find("X-First"), heads.rfind("X-First"));  // once: in the first request only
  EXPECT_NE(heads.rfind("GET / HTTP/1.1"), heads.find("GET / HTTP/1.1"));  // GET after POST
}

}  // namespace
}  // namespace snx::platform

// The libcurl HTTP facility against a loopback server of the test's own. Refusals and
// time-outs are exercised end to end by the integration tests (snxctl probe).

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/http_client.h"
#include "support/loopback_http_server.h"

namespace {

using snx::platform::HttpClient;
using snx::platform::HttpRequest;
using snx::platform::HttpResult;
using snx::platform::Use;
using snx::test::LoopbackHttpServer;

// Loopback only: a proxy set in the environment must never take the tests' requests.
const bool kNoProxy = setenv("no_proxy", "*", 1) == 0;

HttpRequest To(const LoopbackHttpServer& server, const std::string& path) {
  HttpRequest r;
  r.host = "127.0.0.1";
  r.port = server.port();
  r.path = path;
  r.headers = {"Accept: text/*", "User-Agent: MFC_Tear_Sample"};
  return r;
}

TEST(CurlHttpClientTest, SendsOurHeadersAndReportsRedirectsWithoutFollowing) {
  LoopbackHttpServer server([](const std::string&) {
    return "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n" +
           LoopbackHttpServer::Answer(302, {"Location: /elsewhere"}, "moved");
  });
  const HttpResult result = Use<HttpClient>().Fetch(To(server, "/a/b?c=d"));
  ASSERT_TRUE(result.answered) << result.error_message;
  EXPECT_EQ(result.status, 302u);
  // Only the final answer's lines, each ended by CR LF.
  EXPECT_EQ(result.raw_headers.rfind("HTTP/1.1 302 Test\r\nLocation: /elsewhere\r\n", 0), 0u);
  EXPECT_EQ(result.raw_headers.find("X-Interim"), std::string::npos);
  EXPECT_EQ(result.raw_headers.substr(result.raw_headers.size() - 4), "\r\n\r\n");
  EXPECT_EQ(result.body, "");  // not asked for
  ASSERT_EQ(server.request_count(), 1);
  const std::string head = server.requests()[0];
  EXPECT_EQ(head.rfind("GET /a/b?c=d HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(head.find("\r\nAccept: text/*\r\n"), std::string::npos);
  EXPECT_EQ(head.find("Accept: */*"), std::string::npos);  // ours replaces the default
  EXPECT_NE(head.find("\r\nUser-Agent: MFC_Tear_Sample\r\n"), std::string::npos);
}

TEST(CurlHttpClientTest, BodyIsKeptUpToTheLimit) {
  const std::string body(200000, 'b');
  LoopbackHttpServer server(
      [&](const std::string&) { return LoopbackHttpServer::Answer(200, {}, body); });
  HttpRequest r = To(server, "/");
  const struct {
    std::size_t limit;
    std::size_t kept;
    bool cut;
  } cases[] = {{body.size(), body.size(), false}, {1000, 1000, true}, {0, 0, false}};
  for (const auto& c : cases) {
    r.max_body_bytes = c.limit;
    const HttpResult result = Use<HttpClient>().Fetch(r);
    ASSERT_TRUE(result.answered) << c.limit << ": " << result.error_message;
    EXPECT_EQ(result.status, 200u);
    EXPECT_EQ(result.body, body.substr(0, c.kept)) << c.limit;
    EXPECT_EQ(result.body_cut, c.cut) << c.limit;
  }
}

}  // namespace

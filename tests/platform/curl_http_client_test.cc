// The libcurl HTTP facility against a loopback server of the test's own.

#include <gtest/gtest.h>

#include <atomic>
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
  r.connect_timeout = std::chrono::seconds(5);
  r.total_timeout = std::chrono::seconds(10);
  return r;
}

TEST(CurlHttpClientTest, GivesStatusRawHeadersAndSendsOurHeaders) {
  LoopbackHttpServer server(
      [](const std::string&) { return LoopbackHttpServer::Answer(404, {"X-One: 1"}, "missing"); });
  HttpRequest r = To(server, "/a/b?c=d");
  r.headers = {"Accept: text/*", "User-Agent: MFC_Tear_Sample"};
  const HttpResult result = Use<HttpClient>().Fetch(r);
  ASSERT_TRUE(result.answered) << result.error_message;
  EXPECT_EQ(result.status, 404u);
  EXPECT_EQ(result.raw_headers.rfind("HTTP/1.1 404 Test\r\n", 0), 0u);
  EXPECT_NE(result.raw_headers.find("\r\nX-One: 1\r\n"), std::string::npos);
  EXPECT_EQ(result.raw_headers.substr(result.raw_headers.size() - 4), "\r\n\r\n");
  EXPECT_EQ(result.body, "");  // not asked for

  ASSERT_EQ(server.request_count(), 1);
  const std::string head = server.requests()[0];
  EXPECT_EQ(head.rfind("GET /a/b?c=d HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(head.find("\r\nAccept: text/*\r\n"), std::string::npos);
  EXPECT_EQ(head.find("Accept: */*"), std::string::npos);  // ours replaces the default
  EXPECT_NE(head.find("\r\nUser-Agent: MFC_Tear_Sample\r\n"), std::string::npos);
}

TEST(CurlHttpClientTest, RedirectIsReportedNotFollowed) {
  LoopbackHttpServer server([](const std::string& head) {
    if (LoopbackHttpServer::TargetOf(head) == "/") {
      return LoopbackHttpServer::Answer(302, {"Location: /elsewhere"});
    }
    return LoopbackHttpServer::Answer(200);
  });
  const HttpResult result = Use<HttpClient>().Fetch(To(server, "/"));
  ASSERT_TRUE(result.answered);
  EXPECT_EQ(result.status, 302u);
  EXPECT_NE(result.raw_headers.find("Location: /elsewhere\r\n"), std::string::npos);
  EXPECT_EQ(server.request_count(), 1);
}

TEST(CurlHttpClientTest, KeepsOnlyTheFinalAnswersHeaders) {
  LoopbackHttpServer server([](const std::string&) {
    return "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n" + LoopbackHttpServer::Answer(200);
  });
  const HttpResult result = Use<HttpClient>().Fetch(To(server, "/"));
  ASSERT_TRUE(result.answered) << result.error_message;
  EXPECT_EQ(result.status, 200u);
  EXPECT_EQ(result.raw_headers.find("X-Interim"), std::string::npos);
  EXPECT_EQ(result.raw_headers.rfind("HTTP/1.1 200", 0), 0u);
}

TEST(CurlHttpClientTest, BodyIsKeptUpToTheLimit) {
  const std::string body(200000, 'b');
  LoopbackHttpServer server(
      [&](const std::string&) { return LoopbackHttpServer::Answer(200, {}, body); });
  HttpRequest r = To(server, "/");
  r.max_body_bytes = body.size();
  HttpResult result = Use<HttpClient>().Fetch(r);
  ASSERT_TRUE(result.answered) << result.error_message;
  EXPECT_EQ(result.body, body);
  EXPECT_FALSE(result.body_cut);

  r.max_body_bytes = 1000;
  result = Use<HttpClient>().Fetch(r);
  ASSERT_TRUE(result.answered) << result.error_message;
  EXPECT_EQ(result.status, 200u);
  EXPECT_EQ(result.body, body.substr(0, 1000));
  EXPECT_TRUE(result.body_cut);

  r.max_body_bytes = 0;  // the status alone: a big body is no failure
  result = Use<HttpClient>().Fetch(r);
  ASSERT_TRUE(result.answered) << result.error_message;
  EXPECT_EQ(result.status, 200u);
  EXPECT_FALSE(result.body_cut);
}

TEST(CurlHttpClientTest, ConnectedCallbackComesOncePerRequest) {
  LoopbackHttpServer server([](const std::string&) { return LoopbackHttpServer::Answer(200); });
  std::atomic<int> calls{0};
  HttpRequest r = To(server, "/");
  r.on_connected = [&] { ++calls; };
  ASSERT_TRUE(Use<HttpClient>().Fetch(r).answered);
  EXPECT_EQ(calls, 1);
}

TEST(CurlHttpClientTest, RefusedConnectionIsALibraryError) {
  std::uint16_t port;
  {
    LoopbackHttpServer closed([](const std::string&) { return std::string(); });
    port = closed.port();
  }  // nothing listens there any more
  HttpRequest r;
  r.host = "127.0.0.1";
  r.port = port;
  const HttpResult result = Use<HttpClient>().Fetch(r);
  EXPECT_FALSE(result.answered);
  EXPECT_EQ(result.error_number, 7);  // could not connect
  EXPECT_FALSE(result.error_message.empty());
}

TEST(CurlHttpClientTest, SilentServerEndsAtTheTotalBound) {
  LoopbackHttpServer server([](const std::string&) { return std::string(); });
  HttpRequest r = To(server, "/");
  r.total_timeout = std::chrono::milliseconds(300);
  const HttpResult result = Use<HttpClient>().Fetch(r);
  EXPECT_FALSE(result.answered);
  EXPECT_EQ(result.error_number, 28);  // timed out
  EXPECT_EQ(server.request_count(), 1);
}

TEST(CurlHttpClientTest, GarbageAnswerIsALibraryError) {
  LoopbackHttpServer server([](const std::string&) { return std::string("SSH-2.0-x\r\n\r\n"); });
  const HttpResult result = Use<HttpClient>().Fetch(To(server, "/"));
  EXPECT_FALSE(result.answered);
  EXPECT_NE(result.error_number, 0);
}

}  // namespace

// The page fetch over real sockets: small servers of our own for the odd answers, and Python's
// http.server as a server this project did not write.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "integration/subprocess.h"
#include "probes/get_web_page.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

namespace {

using snx::test::LoopbackHttpServer;

// Loopback only: a proxy set in the environment must never take the tests' requests.
const bool kNoProxy = setenv("no_proxy", "*", 1) == 0;

class PageFetchIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override { CGetWebPage::ResetOptions(); }
  void TearDown() override { CGetWebPage::ResetOptions(); }
  snx::test::CapturingLog log_;
  CGetWebPage page_;
};

TEST_F(PageFetchIntegrationTest, FollowsOneRelativeRedirectToAnotherServer) {
  LoopbackHttpServer target([](const std::string& head) {
    return LoopbackHttpServer::TargetOf(head) == "/landing"
               ? LoopbackHttpServer::Answer(200, {}, "<h1>here</h1>")
               : LoopbackHttpServer::Answer(404);
  });
  const std::string elsewhere = target.Url("/landing");
  LoopbackHttpServer front([&](const std::string& head) {
    const std::string path = LoopbackHttpServer::TargetOf(head);
    if (path == "/away") return LoopbackHttpServer::Answer(302, {"Location: " + elsewhere});
    if (path == "/app/old") return LoopbackHttpServer::Answer(302, {"location:   new?x=1  "});
    if (path == "/app/new?x=1") return LoopbackHttpServer::Answer(200);
    return LoopbackHttpServer::Answer(404);
  });

  EXPECT_EQ(page_.Go("D", front.Url("/away")), 0);
  EXPECT_EQ(page_.StatusCode(), 200u);
  EXPECT_EQ(target.request_count(), 1);

  EXPECT_EQ(page_.Go("D", front.Url("/app/old")), 0);
  EXPECT_EQ(page_.StatusCode(), 200u);
  EXPECT_EQ(LoopbackHttpServer::TargetOf(front.requests().back()), "/app/new?x=1");

  EXPECT_EQ(page_.ReadPageText("D", front.Url("/away")), 0);
  EXPECT_EQ(page_.PageText().ToString(), "here");
  EXPECT_TRUE(log_.Errors().empty());
}

TEST_F(PageFetchIntegrationTest, OddServersGiveTheirResults) {
  LoopbackHttpServer server([](const std::string& head) {
    const std::string path = LoopbackHttpServer::TargetOf(head);
    if (path == "/chain") return LoopbackHttpServer::Answer(301, {"Location: /chain2"});
    if (path == "/chain2") return LoopbackHttpServer::Answer(301, {"Location: /end"});
    if (path == "/end") return LoopbackHttpServer::Answer(200);
    if (path == "/nowhere") return LoopbackHttpServer::Answer(302);
    if (path == "/secret") {
      return LoopbackHttpServer::Answer(401, {"WWW-Authenticate: Basic realm=\"r\""});
    }
    if (path == "/broken") return LoopbackHttpServer::Answer(500);
    return LoopbackHttpServer::Answer(404);
  });
  const struct {
    const char* path;
    std::int32_t result;
    std::uint32_t status;
    const char* error;
  } cases[] = {
      {"/chain", 2, 301, "CGetWebPage::  Got status code 301"},
      {"/nowhere", 2, 302, "CGetWebPage:: Site redirects with no new location"},
      {"/secret", 1, 401, "CGetWebPage:: Access denied: Invalid password"},
      {"/broken", 0, 500, nullptr},
      {"/missing", 0, 404, nullptr},
      {"/end", 0, 200, nullptr},
  };
  for (const auto& c : cases) {
    log_.Clear();
    const int before = server.request_count();
    EXPECT_EQ(page_.Go("D", server.Url(c.path)), c.result) << c.path;
    EXPECT_EQ(page_.StatusCode(), c.status) << c.path;
    if (c.error != nullptr) {
      EXPECT_TRUE(log_.HasError(c.error)) << c.path;
    } else {
      EXPECT_TRUE(log_.Errors().empty()) << c.path;
    }
    EXPECT_LE(server.request_count() - before, 2) << c.path;  // never more than one redirect
  }
}

TEST_F(PageFetchIntegrationTest, SilentServerAndClosedPortFailWithinTheBound) {
  LoopbackHttpServer silent([](const std::string&) { return std::string(); });
  CGetWebPage::SetTimeouts(std::chrono::milliseconds(500), std::chrono::milliseconds(700));
  EXPECT_EQ(page_.Go("D", silent.Url("/")), 2);
  EXPECT_EQ(page_.StatusCode(), 1u);
  ASSERT_FALSE(log_.Errors().empty());
  EXPECT_THAT(log_.Errors()[0], ::testing::StartsWith("CGetWebPage::  WinINet Exception 28: "));

  std::uint16_t closed_port;
  {
    LoopbackHttpServer gone([](const std::string&) { return std::string(); });
    closed_port = gone.port();
  }
  log_.Clear();
  EXPECT_EQ(page_.Go("D", "http://127.0.0.1:" + std::to_string(closed_port) + "/"), 2);
  EXPECT_EQ(page_.StatusCode(), 1u);
  ASSERT_FALSE(log_.Errors().empty());
  EXPECT_THAT(log_.Errors()[0], ::testing::StartsWith("CGetWebPage::  WinINet Exception 7: "));
}

// Python's own web server serving a folder, on a port it chose itself.
class PythonHttpServer {
 public:
  explicit PythonHttpServer(const std::string& folder)
      : child_(
            {snx::test::PythonPath(), "-c",
             "import functools, http.server, sys\n"
             "h = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])\n"
             "s = http.server.ThreadingHTTPServer(('127.0.0.1', 0), h)\n"
             "print(s.server_address[1], flush=True)\n"
             "s.serve_forever()\n",
             folder},
            snx::test::Stderr::kDrop) {
    std::string line;
    if (child_.ReadLine(line, std::chrono::seconds(15))) port_ = std::atoi(line.c_str());
  }
  ~PythonHttpServer() { child_.Kill(SIGTERM); }
  int port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  snx::test::Child child_;
  int port_ = 0;
};

TEST_F(PageFetchIntegrationTest, AgainstPythonsHttpServer) {
  snx::test::TempDir dir;
  dir.Write("index.html", "<html><body>root</body></html>\n");
  std::filesystem::create_directory(dir.File("docs"));
  dir.Write("docs/index.html", "<p>the docs</p>\n");
  PythonHttpServer server(dir.path());
  ASSERT_GT(server.port(), 0) << "python's http.server did not start";
  // It answers once it printed its port; make sure before the real checks.
  bool answering = false;
  for (int i = 0; i < 100 && !answering; ++i) {
    answering = page_.Go("D", server.Url("/")) == 0;
    if (!answering) usleep(50000);
  }
  ASSERT_TRUE(answering);

  EXPECT_EQ(page_.Go("D", server.Url("/index.html")), 0);
  EXPECT_EQ(page_.StatusCode(), 200u);
  EXPECT_TRUE(page_.IsStatusOk());

  EXPECT_EQ(page_.Go("D", server.Url("/no-such-page.html")), 0);
  EXPECT_EQ(page_.StatusCode(), 404u);
  EXPECT_FALSE(page_.IsStatusOk());

  // A folder without its "/" is answered by a 301 whose Location is the path alone: the fetch
  // must read it against the request to land on the folder's index.
  log_.Clear();
  EXPECT_EQ(page_.ReadPageText("P", server.Url("/docs")), 0);
  EXPECT_EQ(page_.StatusCode(), 200u);
  EXPECT_EQ(page_.PageText().ToString(), "the docs\n");
  EXPECT_TRUE(log_.HasError("CGetWebPage:: Caution: redirected to " + server.Url("/docs/")));
  EXPECT_TRUE(log_.HasEvent("Connection made!"));
}

}  // namespace

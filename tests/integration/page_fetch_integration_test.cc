// The page fetch against Python's http.server, a server this project did not write. The odd
// answers (chains, no Location, 401, silence) are checked end to end in snxctl_probe_test.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "integration/subprocess.h"
#include "probes/get_web_page.h"
#include "support/test_support.h"

namespace {

// Loopback only: a proxy set in the environment must never take the tests' requests.
const bool kNoProxy = setenv("no_proxy", "*", 1) == 0;

// Python's own web server serving a folder, on a port it chose itself.
class PythonHttpServer {
 public:
  explicit PythonHttpServer(const std::string& folder)
      : child_({snx::test::PythonPath(), "-c",
                "import functools, http.server, sys\n"
                "h = functools.partial(http.server.SimpleHTTPRequestHandler, "
                "directory=sys.argv[1])\n"
                "s = http.server.ThreadingHTTPServer(('127.0.0.1', 0), h)\n"
                "print(s.server_address[1], flush=True)\n"
                "s.serve_forever()\n",
                folder},
               snx::test::Stderr::kDrop) {
    std::string line;
    if (child_.ReadLine(line, std::chrono::seconds(15))) port_ = std::atoi(line.c_str());
  }
  int port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  snx::test::Child child_;  // killed and reaped with the server object
  int port_ = 0;
};

TEST(PageFetchIntegrationTest, AgainstPythonsHttpServer) {
  CGetWebPage::ResetOptions();
  snx::test::CapturingLog log;
  snx::test::TempDir dir;
  dir.Write("index.html", "<html><body>root</body></html>\n");
  std::filesystem::create_directory(dir.File("docs"));
  dir.Write("docs/index.html", "<p>the docs</p>\n");
  PythonHttpServer server(dir.path());
  ASSERT_GT(server.port(), 0) << "python's http.server did not start";
  CGetWebPage page;
  bool answering = false;  // wait, within a bound, until it answers
  for (int i = 0; i < 100 && !answering; ++i) {
    answering = page.Go("D", server.Url("/")) == 0;
    if (!answering) usleep(50000);
  }
  ASSERT_TRUE(answering);

  EXPECT_EQ(page.Go("D", server.Url("/index.html")), 0);
  EXPECT_TRUE(page.IsStatusOk());
  EXPECT_EQ(page.Go("D", server.Url("/no-such-page.html")), 0);
  EXPECT_EQ(page.StatusCode(), 404u);
  EXPECT_FALSE(page.IsStatusOk());

  // A folder without its "/" is answered by a 301 whose Location is the path alone: the fetch
  // must read it against the request to land on the folder's index.
  log.Clear();
  EXPECT_EQ(page.ReadPageText("P", server.Url("/docs")), 0);
  EXPECT_EQ(page.StatusCode(), 200u);
  EXPECT_EQ(page.PageText().ToString(), "the docs\n");
  EXPECT_TRUE(log.HasError("CGetWebPage:: Caution: redirected to " + server.Url("/docs/")));
  EXPECT_TRUE(log.HasEvent("Connection made!"));
  CGetWebPage::ResetOptions();
}

}  // namespace

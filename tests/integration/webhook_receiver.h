#pragma once
// A webhook receiver for the tests (python3's http.server): it records every POST as one JSON
// line {"path", "headers", "body"} in "posts.jsonl" of its folder and answers by path: "/fail"
// 500, "/hang" nothing for a minute, anything else 200.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace snx::test {

inline constexpr const char* kReceiver = R"(import http.server, json, os, sys, time
out = os.path.join(sys.argv[1], "posts.jsonl")
class Hook(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with open(out, "a") as f:
            f.write(json.dumps({"path": self.path, "headers": dict(self.headers),
                                "body": body.decode("utf-8", "replace")}) + "\n")
        if self.path.startswith("/hang"):
            time.sleep(60)
        self.send_response(500 if self.path.startswith("/fail") else 200)
        self.send_header("Content-Length", "0")
        self.end_headers()
    def log_message(self, *args):
        pass
srv = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Hook)
srv.daemon_threads = True
print("listening %d" % srv.server_address[1], flush=True)
srv.serve_forever()
)";

class WebhookReceiver {
 public:
  bool Started() const { return server_.Started(); }
  // "http://127.0.0.1:PORT" + path.
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + server_.Port() + path;
  }
  // The posts so far, in order.
  std::vector<nlohmann::json> Posts() const {
    std::vector<nlohmann::json> posts;
    for (const auto& line : FileLines(dir_, "posts.jsonl")) {
      if (!line.empty()) posts.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    return posts;
  }
  // The posts to `path` whose body holds `text`.
  int Count(const std::string& path, const std::string& text) const {
    int n = 0;
    for (const auto& p : Posts()) {
      n += p.value("path", "") == path && p.value("body", "").find(text) != std::string::npos;
    }
    return n;
  }

 private:
  TempDir dir_;
  ScriptServer server_{dir_, kReceiver};
};

}  // namespace snx::test

#pragma once
// A webhook receiver for the tests (tests/peers/webhook_receiver.py): it records every POST as
// one JSON line {"path", "headers", "body"} and answers by path: "/fail" 500, "/hang" nothing for
// a minute, anything else 200.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace snx::test {

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
  ScriptServer server_{dir_, "webhook_receiver.py"};
};

}  // namespace snx::test

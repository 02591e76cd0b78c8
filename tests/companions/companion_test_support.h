#pragma once
// Shared by the companion tests: executable scripts in a temporary folder and bounded polling
// of real time.

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace snx::test {

// Writes an executable script `name` into `dir`.
inline void WriteScript(const TempDir& dir, const std::string& name, const std::string& body) {
  dir.Write(name, "#!/bin/sh\n" + body);
  ::chmod(dir.File(name).c_str(), 0755);
}

// Polls `done` every 10 ms of real time until it is true or `bound` has passed.
inline bool Eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds bound = std::chrono::seconds(10)) {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The file's lines, or none when it does not exist.
inline std::vector<std::string> FileLines(const TempDir& dir, const std::string& name) {
  return std::filesystem::exists(dir.File(name)) ? LinesOf(dir.Read(name))
                                                 : std::vector<std::string>{};
}

}  // namespace snx::test

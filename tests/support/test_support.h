#pragma once
// Helpers shared by the tests: a log that keeps its lines, temporary folders, a scoped
// environment variable, executable scripts and bounded polling of real time.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/log_writer.h"

namespace snx::test {

// Keeps every line written through g_pLogFile while it is installed. Writers on several threads
// may log at once; read the lines once they are done.
class CapturingLog : public CLogWriter {
 public:
  struct Line {
    std::string kind;  // "Error", "Message", "Event" or "Blank"
    std::string text;
  };

  CapturingLog() : previous_(g_pLogFile) { g_pLogFile = this; }
  ~CapturingLog() override { g_pLogFile = previous_; }
  CapturingLog(const CapturingLog&) = delete;
  CapturingLog& operator=(const CapturingLog&) = delete;

  bool LogError(std::string_view text) override { return Keep("Error", text); }
  bool LogMessage(std::string_view text) override { return Keep("Message", text); }
  bool LogEvent(std::string_view text) override { return Keep("Event", text); }
  bool LogBlankLines(int count) override {
    for (int i = 0; i < count; ++i) Keep("Blank", "");
    return true;
  }

  const std::vector<Line>& lines() const { return lines_; }
  std::vector<std::string> Errors() const { return OfKind("Error"); }
  std::vector<std::string> Events() const { return OfKind("Event"); }
  std::vector<std::string> Messages() const { return OfKind("Message"); }
  bool HasError(std::string_view text) const { return std::ranges::count(Errors(), text) > 0; }
  bool HasEvent(std::string_view text) const { return std::ranges::count(Events(), text) > 0; }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  bool Keep(const char* kind, std::string_view text);
  std::vector<std::string> OfKind(std::string_view kind) const;

  mutable std::mutex mutex_;
  std::vector<Line> lines_;
  CLogWriter* previous_;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(std::string_view name) const;
  void Write(std::string_view name, std::string_view bytes) const;
  std::string Read(std::string_view name) const;

 private:
  std::string path_;
};

// Sets (or with a null value unsets) an environment variable for the lifetime of the guard.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

// What `promtool check metrics` says against the file ("" when it passes). Without promtool
// (Debian's prometheus package) it is nullopt, and the running test is marked skipped with the
// reason: it goes on with its other checks, but never passes silently.
std::optional<std::string> PromtoolComplaint(const std::string& path);

// The permission bits (07777) of the file, or 0 when it cannot be read.
inline unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

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

// `text` holds each of `parts`.
inline ::testing::AssertionResult HasAll(const std::string& text,
                                         const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    if (text.find(part) == std::string::npos) {
      return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
    }
  }
  return ::testing::AssertionSuccess();
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

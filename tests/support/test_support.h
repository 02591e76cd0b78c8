#pragma once
// Helpers shared by the tests: a log that keeps its lines, temporary folders, and a scoped
// environment variable.

#include <mutex>
#include <string>
#include <string_view>
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

  CapturingLog();
  ~CapturingLog() override;
  CapturingLog(const CapturingLog&) = delete;
  CapturingLog& operator=(const CapturingLog&) = delete;

  bool LogError(std::string_view text) override;
  bool LogMessage(std::string_view text) override;
  bool LogEvent(std::string_view text) override;
  bool LogBlankLines(int count) override;

  const std::vector<Line>& lines() const { return lines_; }
  std::vector<std::string> Errors() const;
  std::vector<std::string> Events() const;
  std::vector<std::string> Messages() const;
  bool HasError(std::string_view text) const;
  bool HasEvent(std::string_view text) const;
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  void Keep(const char* kind, std::string_view text);

  std::mutex mutex_;
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

}  // namespace snx::test

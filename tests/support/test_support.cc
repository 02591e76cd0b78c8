#include "support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace snx::test {

CapturingLog::CapturingLog() : previous_(g_pLogFile) { g_pLogFile = this; }
CapturingLog::~CapturingLog() { g_pLogFile = previous_; }

void CapturingLog::Keep(const char* kind, std::string_view text) {
  std::lock_guard lock(mutex_);
  lines_.push_back({kind, std::string(text)});
}
bool CapturingLog::LogError(std::string_view text) {
  Keep("Error", text);
  return true;
}
bool CapturingLog::LogMessage(std::string_view text) {
  Keep("Message", text);
  return true;
}
bool CapturingLog::LogEvent(std::string_view text) {
  Keep("Event", text);
  return true;
}
bool CapturingLog::LogBlankLines(int count) {
  for (int i = 0; i < count; ++i) Keep("Blank", "");
  return true;
}

namespace {
std::vector<std::string> OfKind(const std::vector<CapturingLog::Line>& lines, const char* kind) {
  std::vector<std::string> out;
  for (const auto& l : lines) {
    if (l.kind == kind) out.push_back(l.text);
  }
  return out;
}
}  // namespace

std::vector<std::string> CapturingLog::Errors() const { return OfKind(lines_, "Error"); }
std::vector<std::string> CapturingLog::Events() const { return OfKind(lines_, "Event"); }
std::vector<std::string> CapturingLog::Messages() const { return OfKind(lines_, "Message"); }

bool CapturingLog::HasError(std::string_view text) const {
  for (const auto& l : lines_) {
    if (l.kind == "Error" && l.text == text) return true;
  }
  return false;
}

bool CapturingLog::HasEvent(std::string_view text) const {
  for (const auto& l : lines_) {
    if (l.kind == "Event" && l.text == text) return true;
  }
  return false;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "snxtest-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(std::string_view name) const { return path_ + "/" + std::string(name); }

void TempDir::Write(std::string_view name, std::string_view bytes) const {
  std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempDir::Read(std::string_view name) const {
  std::ifstream in(File(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    had_ = true;
    old_ = old;
  }
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

}  // namespace snx::test

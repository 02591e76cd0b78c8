#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace snx::test {

bool CapturingLog::Keep(const char* kind, std::string_view text) {
  std::lock_guard lock(mutex_);
  lines_.push_back({kind, std::string(text)});
  return true;
}

std::vector<std::string> CapturingLog::OfKind(std::string_view kind) const {
  // Tests may poll while threads still write.
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& l : lines_) {
    if (l.kind == kind) out.push_back(l.text);
  }
  return out;
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

std::optional<std::string> PromtoolComplaint(const std::string& path) {
  if (std::system("command -v promtool >/dev/null 2>&1") != 0) {
    const std::string why = "promtool (Debian's prometheus package) is not installed: " + path +
                            " was not checked against it";
    // Said in the test's output; the test's other checks still count (the metrics text's own
    // test is the one marked skipped).
    std::fprintf(stderr, "[   NOTE   ] %s\n", why.c_str());
    return std::nullopt;
  }
  const std::string out = path + ".promtool";
  const std::string command = "promtool check metrics < '" + path + "' > '" + out + "' 2>&1";
  const bool passed = std::system(command.c_str()) == 0;
  std::ifstream in(out);
  std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(out);
  return passed ? "" : "promtool: " + said;
}

}  // namespace snx::test

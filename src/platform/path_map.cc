#include "platform/path_map.h"

#include <array>

#include "platform/ascii.h"

namespace snx::platform {
namespace {

constexpr std::string_view kDrivesFolder = "var/lib/snxsvc/drives/";

// The Windows top-level names the system builds rooted paths with; they live on the C drive.
constexpr std::array<std::string_view, 4> kCDriveTopLevel = {
    "Documents and Settings", "Program Files", "programmi", "QorDevel.txt"};

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Every run of "\" and "/" becomes one "/".
std::string FoldSeparators(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool in_run = false;
  for (char c : text) {
    if (IsPathSeparator(c)) {
      if (!in_run) out.push_back('/');
      in_run = true;
    } else {
      out.push_back(c);
      in_run = false;
    }
  }
  return out;
}

std::string DriveFolder(std::string_view root, char letter) {
  std::string relative(kDrivesFolder);
  relative.push_back(AsciiUpper(letter));
  return UnderRoot(root, relative);
}

// `rest` is what follows the drive; it either starts with "/" or is relative to the drive root.
std::string OnDrive(std::string_view root, char letter, std::string_view rest) {
  std::string out = DriveFolder(root, letter);
  if (rest.empty()) return out;
  if (rest.front() != '/') out.push_back('/');
  out.append(rest);
  return out;
}

}  // namespace

std::string UnderRoot(std::string_view root, std::string_view relative) {
  while (!root.empty() && root.back() == '/') root.remove_suffix(1);
  while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
  std::string out(root);
  out.push_back('/');
  out.append(relative);
  return out;
}

std::string MapPathText(std::string_view text, std::string_view root) {
  const std::string folded = FoldSeparators(text);
  const std::string_view s = folded;

  if (s.size() >= 2 && IsAsciiLetter(s[0]) && s[1] == ':') {
    return OnDrive(root, s[0], s.substr(2));
  }

  if (!s.empty() && s.front() == '/') {
    const std::size_t end = s.find('/', 1);
    const std::string_view first =
        s.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1);
    for (std::string_view top : kCDriveTopLevel) {
      if (EqualsNoCase(first, top)) return OnDrive(root, 'C', s);
    }
  }
  return folded;
}

}  // namespace snx::platform

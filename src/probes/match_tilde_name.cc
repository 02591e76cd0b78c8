#include "probes/match_tilde_name.h"

#include "core/qor_str.h"
#include "platform/ascii.h"
#include "platform/path_map.h"
#include "probes/p_image.h"

namespace {

// Splits off the drive: the first character when the text holds ":", the rest after the first
// ":"; otherwise no drive and the whole text.
void SplitDrive(std::string_view text, std::string_view& drive, std::string_view& rest) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    drive = std::string_view();
    rest = text;
  } else {
    drive = text.substr(0, 1);
    rest = text.substr(colon + 1);
  }
}

// Takes the first component off the rest ("\" and "/" both separate).
std::string_view NextComponent(std::string_view& rest) {
  std::size_t cut = 0;
  while (cut < rest.size() && !snx::platform::IsPathSeparator(rest[cut])) ++cut;
  const std::string_view component = rest.substr(0, cut);
  rest = cut < rest.size() ? rest.substr(cut + 1) : std::string_view();
  return component;
}

void SplitAtDot(std::string_view component, std::string_view& name, std::string_view& ext) {
  const std::size_t dot = component.find('.');
  name = component.substr(0, dot);
  ext = dot == std::string_view::npos ? std::string_view() : component.substr(dot + 1);
}

bool Same(std::string_view a, std::string_view b) {
  // An empty piece is handed on as a real empty text, never as a view without data.
  return CQorStr(a.empty() ? std::string_view("") : a).IsSame(b.empty() ? std::string_view("") : b);
}

}  // namespace

bool MatchTildeName(const CPImage& record, std::string_view program_name) {
  std::string_view short_drive;
  std::string_view short_rest;
  std::string_view long_drive;
  std::string_view long_rest;
  SplitDrive(record.m_sProgramName.View(), short_drive, short_rest);
  SplitDrive(program_name, long_drive, long_rest);
  if (!short_drive.empty() && !long_drive.empty() && !Same(short_drive, long_drive)) return false;

  while (!short_rest.empty() || !long_rest.empty()) {
    const std::string_view short_component = NextComponent(short_rest);
    const std::string_view long_component = NextComponent(long_rest);
    if (short_component.empty() && long_component.empty()) continue;
    std::string_view short_name;
    std::string_view short_ext;
    std::string_view long_name;
    std::string_view long_ext;
    SplitAtDot(short_component, short_name, short_ext);
    SplitAtDot(long_component, long_name, long_ext);
    const std::size_t tilde = short_name.find('~');
    if (tilde == std::string_view::npos) {
      if (!Same(short_name, long_name)) return false;
      continue;
    }
    // Short names keep at least the first six characters of the long one before the "~".
    if (tilde < 5) return false;
    if (!Same(short_name.substr(0, 6), long_name.substr(0, 6))) return false;
    if (!short_ext.empty() && !long_ext.empty() &&
        snx::platform::AsciiUpper(short_ext.front()) !=
            snx::platform::AsciiUpper(long_ext.front())) {
      return false;
    }
  }
  return true;
}

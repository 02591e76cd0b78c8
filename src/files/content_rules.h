#pragma once
// The content check of a tested page: the lines of the settings section "[CONTENT]", each
// "URL TEXT" (the page at URL must contain TEXT) or "URL !TEXT" (it must not). The match is a
// plain substring of the page's raw body, case-sensitive; several lines for one URL must all
// hold. A line applies to every URL tested whose text is exactly its URL (a local or remote
// URL, the e-mail check URL). Only the first kContentBodyBytes of a page are read for it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class CRamFileRO;

struct CContentRule {
  std::string url;
  std::string text;
  bool must_contain = true;
};

inline constexpr const char* kContentSection = "[CONTENT]";
inline constexpr std::size_t kContentBodyBytes = 1 << 20;

// "URL TEXT" or "URL !TEXT": the URL runs to the first blank, the text is the rest after the
// blanks that follow it (blanks at the ends of the line ignored). False when there is no text.
bool ParseContentLine(std::string_view line, CContentRule& rule);

// The rules of the image's "[CONTENT]" section for that URL (unreadable lines are skipped:
// `snxctl conf check` names them).
std::vector<CContentRule> ContentRulesFor(CRamFileRO* image, std::string_view url);

// The first rule the body breaks, as a log line naming the URL and the text; "" when every rule
// holds. `cut`: the body is the first part of a longer page.
std::string ContentFailure(std::string_view url, std::string_view body, bool cut,
                           const std::vector<CContentRule>& rules);

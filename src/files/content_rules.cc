#include "files/content_rules.h"

#include "core/qor_str.h"
#include "files/ram_file_ro.h"
#include "platform/visible_text.h"

namespace {
constexpr std::string_view kBlanks = " \t";
}

bool ParseContentLine(std::string_view line, CContentRule& rule) {
  line = CQorStr::Trimmed(line);
  const std::size_t blank = line.find_first_of(kBlanks);
  if (blank == 0 || blank == std::string_view::npos) return false;
  std::string_view text = line.substr(line.find_first_not_of(kBlanks, blank));
  const bool must_contain = text.front() != '!';
  if (!must_contain) text.remove_prefix(1);
  if (text.empty()) return false;
  rule.url.assign(line.substr(0, blank));
  rule.text.assign(text);
  rule.must_contain = must_contain;
  return true;
}

std::vector<CContentRule> ContentRulesFor(CRamFileRO* image, std::string_view url) {
  std::vector<CContentRule> rules;
  if (image == nullptr || url.empty()) return rules;
  for (std::string_view line = image->FirstLineOfSection(kContentSection); !line.empty();
       line = image->NextLineOfSection()) {
    CContentRule rule;
    if (ParseContentLine(line, rule) && rule.url == url) rules.push_back(std::move(rule));
  }
  return rules;
}

std::string ContentFailure(std::string_view url, std::string_view body, bool cut,
                           const std::vector<CContentRule>& rules) {
  using snx::platform::VisibleText;
  for (const CContentRule& rule : rules) {
    const bool found = body.find(rule.text) != std::string_view::npos;
    if (found == rule.must_contain) continue;
    return "Content check failed for " + VisibleText(url) + ": the page " +
           (rule.must_contain ? "does not contain \"" : "contains \"") + VisibleText(rule.text) +
           "\"" + (cut ? " (in its first 1 MiB, all that is read)" : "");
  }
  return "";
}

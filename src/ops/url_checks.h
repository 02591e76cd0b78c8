#pragma once
// What a tested URL must do beyond answering 200..299: hold its "[CONTENT]" lines and answer
// within SlowMs. A page that breaks either is a failed URL exactly as a 500 is.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "files/content_rules.h"

class CAllSets;
class CGetWebPage;

struct CUrlChecks {
  std::vector<CContentRule> content;
  std::chrono::milliseconds slow{0};  // 0: no bound
};

// The checks the settings set for that URL: its [CONTENT] lines and SlowMs.
CUrlChecks UrlChecksFor(CAllSets& settings, std::string_view url);

// The same for each URL of one pass, the settings read once for all of them.
class CUrlCheckSet {
 public:
  explicit CUrlCheckSet(CAllSets& settings);
  CUrlChecks For(std::string_view url) const;

 private:
  std::vector<CContentRule> m_Rules;  // every readable [CONTENT] line, in the section's order
  std::chrono::milliseconds m_Slow{0};
};

// Why a page that answered 200..299 in `elapsed` still fails the checks, as the log line that
// says so; "" when it passes.
std::string UrlCheckFailure(std::string_view url, const CGetWebPage& page,
                            std::chrono::milliseconds elapsed, const CUrlChecks& checks);

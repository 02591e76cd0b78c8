#include "ops/url_checks.h"

#include "files/all_sets.h"
#include "platform/visible_text.h"
#include "probes/get_web_page.h"

CUrlChecks UrlChecksFor(CAllSets& settings, std::string_view url) {
  return CUrlCheckSet(settings).For(url);
}

CUrlCheckSet::CUrlCheckSet(CAllSets& settings) : m_Slow(std::max(0, settings.m_iSlowMs)) {
  CRamFileRO* image = settings.SettingsImage();
  if (image == nullptr) return;
  for (std::string_view line = image->FirstLineOfSection(kContentSection); !line.empty();
       line = image->NextLineOfSection()) {
    CContentRule rule;
    if (ParseContentLine(line, rule)) m_Rules.push_back(std::move(rule));
  }
}

CUrlChecks CUrlCheckSet::For(std::string_view url) const {
  CUrlChecks checks;
  checks.slow = m_Slow;
  if (url.empty()) return checks;
  for (const CContentRule& rule : m_Rules) {
    if (rule.url == url) checks.content.push_back(rule);
  }
  return checks;
}

std::string UrlCheckFailure(std::string_view url, const CGetWebPage& page,
                            std::chrono::milliseconds elapsed, const CUrlChecks& checks) {
  std::string failure = ContentFailure(url, page.Body(), page.BodyCut(), checks.content);
  if (failure.empty() && checks.slow.count() > 0 && elapsed > checks.slow) {
    failure = "Slow URL " + snx::platform::VisibleText(url) + ": answered in " +
              std::to_string(elapsed.count()) + " ms, more than SlowMs (" +
              std::to_string(checks.slow.count()) + " ms)";
  }
  return failure;
}

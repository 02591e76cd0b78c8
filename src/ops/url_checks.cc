#include "ops/url_checks.h"

#include "files/all_sets.h"
#include "platform/visible_text.h"
#include "probes/get_web_page.h"

CUrlChecks UrlChecksFor(CAllSets& settings, std::string_view url) {
  CUrlChecks checks;
  checks.content = ContentRulesFor(settings.SettingsImage(), url);
  checks.slow = std::chrono::milliseconds(std::max(0, settings.m_iSlowMs));
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

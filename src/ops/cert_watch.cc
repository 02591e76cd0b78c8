#include "ops/cert_watch.h"

#include <ctime>

#include "core/log_writer.h"
#include "platform/visible_text.h"

namespace {

constexpr std::int64_t kDay = 86400;

// True when a day has passed since `last` (or there was none).
bool ADaySince(std::optional<std::int64_t> last, std::int64_t now) {
  return !last || now - *last >= kDay || now < *last;
}

}  // namespace

std::int64_t CertDaysLeft(std::int64_t expiry, std::int64_t now) {
  const std::int64_t left = expiry - now;
  return left >= 0 ? left / kDay : -((-left + kDay - 1) / kDay);
}

std::string CertDate(std::int64_t expiry) {
  const std::time_t t = static_cast<std::time_t>(expiry);
  std::tm tm{};
  char text[32] = {};
  if (gmtime_r(&t, &tm) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &tm) == 0) {
    return std::to_string(expiry);
  }
  return text;
}

CertView ViewCertificate(const CUrlOutcome& outcome, std::int64_t now) {
  CertView view;
  if (!outcome.cert_problem.empty()) {
    view.text = "not trusted: " + snx::platform::VisibleText(outcome.cert_problem);
  } else if (outcome.cert_expiry != 0) {
    view.days_left = CertDaysLeft(outcome.cert_expiry, now);
    view.text = "expires in " + std::to_string(*view.days_left) + " days (" +
                CertDate(outcome.cert_expiry) + ")";
  }
  return view;
}

void CCertWatch::Note(std::string_view url, std::int64_t expiry, std::int64_t now,
                      std::int32_t warn_days, const Mailer& mail,
                      const std::function<void(const std::string&)>& warned_hook) {
  if (warn_days <= 0 || expiry == 0) return;
  const std::int64_t days = CertDaysLeft(expiry, now);
  if (days >= warn_days) return;
  Warned* warned = nullptr;
  for (Warned& w : m_Warned) {
    if (w.url == url && w.expiry == expiry) warned = &w;
  }
  if (warned == nullptr) {
    // A renewed certificate takes the place of the one before.
    std::erase_if(m_Warned, [&](const Warned& w) { return w.url == url; });
    warned = &m_Warned.emplace_back(Warned{std::string(url), expiry, std::nullopt, std::nullopt});
  }
  const std::string date = CertDate(expiry);
  if (ADaySince(warned->logged, now)) {
    warned->logged = now;
    const std::string text = "the certificate of " + snx::platform::VisibleText(url) +
                             " expires in " + std::to_string(days) + " days (" + date + ")";
    LogError("Warning: " + text + ".");
    if (warned_hook) warned_hook(text);
  }
  if (mail && ADaySince(warned->mailed, now) && mail(url, days, date)) warned->mailed = now;
}

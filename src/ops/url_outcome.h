#pragma once
// The rule of a good URL, shared by the Go cycle, snxctl cycle and snxctl probe: the page fetch
// with the option "D" answered (result 0 or less) with a status from 200 to 299. The time a
// URL takes to answer is measured here and nowhere else: from the request to the last byte of
// the answer, on the installed clock (so a fake clock keeps tests exact).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/log_writer.h"
#include "ops/url_checks.h"
#include "platform/clock.h"
#include "probes/get_web_page.h"

struct CUrlOutcome {
  std::int32_t result = 0;   // the fetch's result: above 0 when it failed outright
  std::uint32_t status = 0;  // the answer's status code when result <= 0
  bool good = false;
  std::chrono::milliseconds elapsed{0};  // the whole fetch, redirect included
  std::string cert_problem;              // https: why the certificate was refused, or ""
  std::int64_t cert_expiry = 0;          // https: its end of validity (Unix seconds), 0 unknown
  std::string failure;  // why a page that answered 200..299 still failed its checks
};

// The time to the answer's last byte; none when no answer came.
inline std::optional<std::chrono::milliseconds> AnswerTime(const CUrlOutcome& outcome) {
  if (outcome.result > 0) return std::nullopt;
  return outcome.elapsed;
}

// A good answer that breaks `checks` fails, with an error line that says why.
inline CUrlOutcome TestUrl(std::string_view url, const CUrlChecks& checks = {}) {
  auto& clock = snx::platform::Use<snx::platform::Clock>();
  CGetWebPage page;
  if (!checks.content.empty()) page.KeepBody(kContentBodyBytes);
  CUrlOutcome outcome;
  const auto started = clock.MonoNow();
  outcome.result = page.Go("D", url);
  outcome.elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(clock.MonoNow() - started);
  outcome.status = outcome.result <= 0 ? page.StatusCode() : 0;
  outcome.good = outcome.result <= 0 && page.IsStatusOk();
  outcome.cert_problem = page.CertProblem();
  outcome.cert_expiry = page.CertExpiry();
  if (outcome.good) outcome.failure = UrlCheckFailure(url, page, outcome.elapsed, checks);
  if (!outcome.failure.empty()) {
    outcome.good = false;
    LogError(outcome.failure);
  }
  return outcome;
}

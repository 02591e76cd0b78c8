#include "pulse_push.h"

#include <algorithm>

#include "platform/visible_text.h"
#include "text/url_parse.h"

namespace {

using snx::platform::UrlParts;
using snx::platform::UrlService;
using std::chrono::milliseconds;

bool IsWebService(UrlService s) { return s == UrlService::kHttp || s == UrlService::kHttps; }

bool IsRedirect(std::uint32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Where a request goes, without its path and query: for a push monitor those hold the secret
// that names the check, and they do not belong in a journal.
std::string Origin(const UrlParts& parts) {
  // Built field by field (the object stays "/"): assigning "/" over a copy trips GCC 12's
  // restrict warning in an optimised build.
  UrlParts origin;
  origin.service = parts.service;
  origin.scheme = parts.scheme;
  origin.host = parts.host;
  origin.port = parts.port;
  return snx::platform::ComposeUrl(origin) + (parts.object == "/" ? "" : "...");
}

}  // namespace

PushOutcome CPulsePush::Push(std::string_view url) {
  PushOutcome out;
  auto fail = [&out](std::string why) {
    out.why = std::move(why);
    out.report = out.why;
    return out;
  };
  const auto deadline = clock_.MonoNow() + kBound;
  UrlParts target;
  if (!snx::platform::ParseUrl(url, target) || !IsWebService(target.service)) {
    // Not shown: the text may hold a password.
    return fail("the URL is not an http or https URL");
  }
  std::string trail = Origin(target);
  for (int hop = 0;; ++hop) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - clock_.MonoNow());
    if (left <= milliseconds::zero()) {
      return fail(trail + ": no answer within " + std::to_string(kBound.count()) + " seconds");
    }
    snx::platform::HttpRequest request;
    request.host = target.host;
    request.port = target.port;
    request.path = target.object;
    request.https = target.service == UrlService::kHttps;
    request.headers = {"User-Agent: SNXSVC-QorPulse", "Accept: */*"};
    request.connect_timeout = std::min<milliseconds>(left, kBound);
    request.total_timeout = left;
    request.max_body_bytes = 0;
    const snx::platform::HttpResult answer = http_.Fetch(request);
    if (!answer.answered) {
      return fail(trail + ": no answer: " + snx::platform::VisibleText(answer.error_message));
    }
    trail += " answered " + std::to_string(answer.status);
    if (answer.status >= 200 && answer.status <= 299) {
      out.ok = true;
      out.report = trail;
      return out;
    }
    if (!IsRedirect(answer.status)) return fail(trail);
    if (hop > 0) return fail(trail + ": a second redirect is not followed");
    std::string location;
    if (!snx::platform::FindLocationHeader(answer.raw_headers, location)) {
      return fail(trail + " without a Location");
    }
    UrlParts next;
    if (!snx::platform::ParseUrl(snx::platform::ResolveReference(target, location), next) ||
        !IsWebService(next.service)) {
      return fail(trail + ": the redirect is not to an http or https URL");
    }
    if (target.service == UrlService::kHttps && next.service == UrlService::kHttp) {
      return fail(trail + ": a redirect from https to plain http is not followed");
    }
    target = next;
    trail += ", redirected to " + Origin(target);
  }
}

#include "probes/get_web_page.h"

#include <algorithm>
#include <exception>
#include <string>

#include "core/log_writer.h"
#include "platform/clock.h"
#include "platform/visible_text.h"
#include "probes/page_session.h"
#include "probes/tear_exception.h"
#include "probes/url_parse.h"

namespace {

using snx::platform::VisibleText;

// A failure of the HTTP library, raised and caught inside the fetch like the tear exception.
struct LibraryFailure {
  int number;
  std::string message;
};

constexpr std::size_t kMaxLibraryMessage = 1024;

std::string Joined(std::string_view a, std::string_view b) {
  std::string out(a);
  out.append(b);
  return out;
}

}  // namespace

bool CGetWebPage::ParseOptions(std::string_view option) {
  const CQorStr text(option);
  if (text.IsSame("D")) {
    s_iAccessType = CPageSession::kAccessPreconfig;
  } else if (text.IsSame("L")) {
    s_iAccessType = CPageSession::kAccessDirect;
  } else if (text.IsSame("S")) {
    s_bStripMode = true;
  } else if (text.IsSame("P")) {
    s_bProgressMode = true;
  } else if (text.IsSame("F")) {
    s_uRequestFlags |= kFlagReload;
  } else {
    LogError(Joined("CGetWebPage::ParseOptions unrecognized option: ", option));
    return false;
  }
  s_uRequestFlags |= kFlagReload;
  return true;
}

void CGetWebPage::RemoveMarkup(std::string& line) {
  std::size_t kept = 0;
  bool inside = s_bInsideTag;
  for (const char c : line) {
    if (inside) {
      if (c == '>') inside = false;
    } else if (c == '<') {
      inside = true;
    } else {
      line[kept++] = c;
    }
  }
  line.resize(kept);
  s_bInsideTag = inside;
}

void CGetWebPage::SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total) {
  s_iConnectTimeoutMs = connect.count();
  s_iTotalTimeoutMs = total.count();
}

std::chrono::milliseconds CGetWebPage::ConnectTimeout() {
  return std::chrono::milliseconds(s_iConnectTimeoutMs.load());
}

std::chrono::milliseconds CGetWebPage::TotalTimeout() {
  return std::chrono::milliseconds(s_iTotalTimeoutMs.load());
}

void CGetWebPage::ResetOptions() {
  s_iAccessType = CPageSession::kAccessPreconfig;
  s_bStripMode = false;
  s_bProgressMode = false;
  s_uRequestFlags = kInitialRequestFlags;
  s_bInsideTag = false;
  SetTimeouts(kDefaultConnectTimeout, kDefaultTotalTimeout);
  SetCaFile("");
  SetProxy("");
}

std::int32_t CGetWebPage::Go(std::string_view options, std::string_view url) {
  return Fetch(options, url, false);
}

std::int32_t CGetWebPage::ReadPageText(std::string_view options, std::string_view url) {
  return Fetch(options, url, true);
}

std::int32_t CGetWebPage::Fetch(std::string_view options, std::string_view url, bool read_text) {
  const std::string_view lead = read_text ? "CGetWebPage ReadPageText: " : "CGetWebPage Go: ";
  if (read_text) {
    m_sPageText.Clear();
    // A tag may span lines but never pages: one page's unclosed "<" must not eat the next.
    s_bInsideTag = false;
  }
  m_uStatusCode = 1;
  m_sCertProblem.clear();
  m_iCertExpiry = 0;
  m_sBody.clear();
  m_bBodyCut = false;
  // A URL too long to keep is not kept, and then cannot be fetched either.
  m_sUrl.Clear();
  m_sUrl.Assign(url);

  if (!ParseOptions(options)) {
    LogError(Joined(lead, url));
    LogError("CGetWebPage:: bad params.");
    return 1;
  }

  CPageSession session(s_iAccessType);
  LogEvent(Joined(lead, url));
  std::int32_t result = 0;
  try {
    result = Exchange(session, read_text);
  } catch (const CTearException& e) {
    LogError("CGetWebPage::  Exception " + std::to_string(e.Code()) + " for this URL: ");
    LogError(VisibleText(url));
    result = e.Code();
  } catch (const LibraryFailure& e) {
    LogError("CGetWebPage::  WinINet Exception " + std::to_string(e.number) + ": " +
             VisibleText(e.message.substr(0, kMaxLibraryMessage)) + " for this URL: ");
    LogError(VisibleText(url));
    result = 2;
  } catch (const std::exception& e) {
    // Nothing else is expected here (memory running out, say); it is still the fetch's own.
    LogError(Joined(Joined("CGetWebPage::  WinINet Exception 0: ", VisibleText(e.what())),
                    " for this URL: "));
    LogError(VisibleText(url));
    result = 2;
  }
  session.Close();
  return result;
}

snx::platform::HttpResult CGetWebPage::Send(CPageSession& session,
                                            const snx::probes::UrlParts& target, bool read_text,
                                            std::chrono::milliseconds left) {
  if (left <= std::chrono::milliseconds::zero()) {
    throw LibraryFailure{28, "the fetch's time bound of " + std::to_string(TotalTimeout().count()) +
                                 " ms ran out before the redirected request"};
  }
  snx::platform::HttpRequest request;
  request.method = "GET";
  request.host = target.host;
  request.port = target.port;
  request.path = target.object;
  request.headers = {"Accept: text/*", "User-Agent: MFC_Tear_Sample"};
  request.connect_timeout = std::min(ConnectTimeout(), left);
  request.total_timeout = left;
  request.max_body_bytes = read_text ? kMaxBodyBytes : m_uKeepBody;
  request.read_to_end = !read_text;  // a URL test lasts until the answer's last byte
  PrepareTls(target, request);
  snx::platform::HttpResult answer = session.Send(std::move(request));
  NoteTls(answer);
  if (!answer.answered) throw LibraryFailure{answer.error_number, answer.error_message};
  m_uStatusCode = answer.status;
  if (!read_text) {
    m_sBody = answer.body;
    m_bBodyCut = answer.body_cut;
  }
  return answer;
}

std::int32_t CGetWebPage::Exchange(CPageSession& session, bool read_text) {
  // One deadline covers the whole fetch: a redirect gets what is left of it, not a new bound.
  snx::platform::Clock& clock = snx::platform::Use<snx::platform::Clock>();
  const auto deadline = clock.MonoNow() + TotalTimeout();
  snx::probes::UrlParts target;
  if (!snx::probes::ParseUrl(m_sUrl.View(), target) ||
      (target.service != snx::probes::UrlService::kHttp &&
       target.service != snx::probes::UrlService::kHttps)) {
    LogError("CGetWebPage:: can only use URLs beginning with http:////");
    ThrowTearException(1);
  }
  if (s_bProgressMode) {
    LogError("CGetWebPage:: Opening Internet...");
    session.EnableStatusCallback();
  }

  snx::platform::HttpResult answer = Send(session, target, read_text, TotalTimeout());

  if (answer.status == 401) {
    // No one can be asked for a password here: the challenge is never retried.
    LogError("CGetWebPage:: Access denied: Invalid password");
    ThrowTearException(1);
  }

  if (answer.status == 301 || answer.status == 302 || answer.status == 303) {
    std::string location;
    if (!snx::probes::FindLocationHeader(answer.raw_headers, location)) {
      LogError("CGetWebPage:: Site redirects with no new location");
      ThrowTearException(2);
    }
    // A relative location is read against the URL that was asked for.
    std::string resolved = snx::probes::ResolveReference(target, location);
    // The location is the server's text: it reaches the log with its controls escaped.
    if (s_bProgressMode) LogError("CGetWebPage:: Caution: redirected to " + VisibleText(resolved));
    snx::probes::UrlParts next;
    if (!snx::probes::ParseUrl(resolved, next)) {
      LogError("CGetWebPage:: this redirected URL could not be parsed: ");
      LogError(VisibleText(location));
      ThrowTearException(2);
    }
    if (next.service != snx::probes::UrlService::kHttp &&
        next.service != snx::probes::UrlService::kHttps) {
      LogError("CGetWebPage::  this redirected URL does not reference a HTTP resource:");
      LogError(VisibleText(resolved));
      ThrowTearException(2);
    }
    RefuseDowngrade(target, next, resolved);
    answer =
        Send(session, next, read_text,
             std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock.MonoNow()));
    if (answer.status != 200) {
      LogError("CGetWebPage::  Got status code " + std::to_string(answer.status));
      ThrowTearException(2);
    }
  }

  LogEvent("CGetWebPage::  Got status code " + std::to_string(answer.status));
  if (read_text) {
    s_bStripMode = true;
    if (answer.body_cut) {
      m_sPageText.Clear();  // far beyond what a page text can hold
    } else {
      StorePageText(answer.body);
    }
  }
  return 0;
}

void CGetWebPage::StorePageText(std::string_view body) {
  std::string text;
  std::string line;
  while (!body.empty()) {
    // One read: up to and including a line feed, at most kReadChunk characters.
    std::size_t n = body.find('\n');
    n = n == std::string_view::npos ? body.size() : n + 1;
    if (n > kReadChunk) n = kReadChunk;
    line.assign(body.substr(0, n));
    body.remove_prefix(n);
    if (s_bStripMode) RemoveMarkup(line);
    text += line;
  }
  // A text longer than a page text can hold is not kept; the page text stays empty.
  if (!m_sPageText.Assign(std::string_view(text))) m_sPageText.Clear();
}

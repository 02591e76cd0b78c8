// The https side of the web page fetch: the CA file and proxy every fetch uses, the
// certificate facts kept from the answers, and the refusal of a redirect from https to http.

#include "core/log_writer.h"
#include "platform/visible_text.h"
#include "probes/get_web_page.h"
#include "probes/tear_exception.h"

void CGetWebPage::SetCaFile(std::string_view path) {
  std::lock_guard lock(s_TlsMutex);
  s_sCaFile.assign(path);
}

void CGetWebPage::SetProxy(std::string_view proxy) {
  std::lock_guard lock(s_TlsMutex);
  s_sProxy.assign(proxy);
}

std::string CGetWebPage::CaFile() {
  std::lock_guard lock(s_TlsMutex);
  return s_sCaFile;
}

std::string CGetWebPage::Proxy() {
  std::lock_guard lock(s_TlsMutex);
  return s_sProxy;
}

void CGetWebPage::PrepareTls(const snx::probes::UrlParts& target,
                             snx::platform::HttpRequest& request) {
  request.https = target.service == snx::probes::UrlService::kHttps;
  request.want_cert_expiry = request.https;
  if (request.https) request.ca_file = CaFile();
  // Only the Proxy setting sends a check through a proxy, never the service's environment.
  request.proxy = Proxy();
}

void CGetWebPage::NoteTls(const snx::platform::HttpResult& answer) {
  if (!answer.cert_problem.empty()) {
    m_sCertProblem = answer.cert_problem;
    LogError("CGetWebPage:: certificate not trusted: " +
             snx::platform::VisibleText(answer.cert_problem));
  }
  // The certificate of the URL asked for, or of the first https page on the way.
  if (m_iCertExpiry == 0) m_iCertExpiry = answer.cert_expiry;
}

void CGetWebPage::RefuseDowngrade(const snx::probes::UrlParts& from,
                                  const snx::probes::UrlParts& to, std::string_view location) {
  if (from.service != snx::probes::UrlService::kHttps ||
      to.service != snx::probes::UrlService::kHttp) {
    return;
  }
  LogError("CGetWebPage:: an https page redirected to http (refused): ");
  LogError(snx::platform::VisibleText(location));
  ThrowTearException(2);
}

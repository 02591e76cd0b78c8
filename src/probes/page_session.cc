#include "probes/page_session.h"

#include "core/log_writer.h"
#include "probes/get_web_page.h"

CPageSession::CPageSession(std::int32_t access_type) : m_iAccessType(access_type) {}

CPageSession::~CPageSession() { Close(); }

void CPageSession::OnStatusCallback(std::uint32_t /*context*/, std::uint32_t status) {
  if (CGetWebPage::ProgressMode() && status == kStatusConnectedToServer) {
    LogEvent("Connection made!");
  }
}

snx::platform::HttpResult CPageSession::Send(snx::platform::HttpRequest request) {
  request.direct = m_iAccessType == kAccessDirect;
  if (request.direct) request.proxy = "";  // not even the one of the settings
  if (m_bStatusCallback) {
    request.on_connected = [this] { OnStatusCallback(kContext, kStatusConnectedToServer); };
  }
  return snx::platform::Use<snx::platform::HttpClient>().Fetch(request);
}

#pragma once
// CPageSession: the session one page fetch runs in. It sends the fetch's requests through the
// HTTP facility with the session's access type, and, once its status callback is switched on,
// hears when a connection to the server stands ("Connection made!" in progress mode).

#include <cstdint>

#include "platform/http_client.h"

class CPageSession {
 public:
  static constexpr const char* kAgentName = "CGetWebPage Access";
  static constexpr std::uint32_t kContext = 1;
  static constexpr std::int32_t kAccessPreconfig = 0;  // proxies as the environment says
  static constexpr std::int32_t kAccessDirect = 1;     // never through a proxy
  static constexpr std::uint32_t kStatusConnectedToServer = 21;

  explicit CPageSession(std::int32_t access_type);
  CPageSession(const CPageSession&) = delete;
  CPageSession& operator=(const CPageSession&) = delete;
  ~CPageSession();

  void EnableStatusCallback() { m_bStatusCallback = true; }
  bool StatusCallbackEnabled() const { return m_bStatusCallback; }
  // What the session hears about a request of its own.
  void OnStatusCallback(std::uint32_t context, std::uint32_t status);

  // Sends one request of this session; the access type and the callback are the session's.
  snx::platform::HttpResult Send(snx::platform::HttpRequest request);

  void Close() { m_bOpen = false; }
  bool IsOpen() const { return m_bOpen; }
  std::int32_t AccessType() const { return m_iAccessType; }

 private:
  std::int32_t m_iAccessType;
  bool m_bStatusCallback = false;
  bool m_bOpen = true;
};

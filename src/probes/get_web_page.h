#pragma once
// CGetWebPage: asks a web server for one page by an HTTP GET and records the status code of
// the answer. It follows one redirect itself, speaks http and https (never an https page
// redirected to http), and turns every failure into a result code and log lines; nothing is
// thrown out of it.
//
// Results of Go and ReadPageText: 0 an answer came and its status code is recorded (any code:
// judging it is IsStatusOk's business); 1 the options were refused, the URL is neither http nor
// https, or the server asked for a password; 2 a redirect could not be followed (or went from
// https to http), the redirected request did not answer 200, or the request failed on the way
// (refused, timed out, a certificate not trusted, ...).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/qor_str.h"
#include "platform/http_client.h"
#include "probes/url_parse.h"  // FindLocationHeader

class CPageSession;
namespace snx::probes {
struct UrlParts;
}

class CGetWebPage {
 public:
  static constexpr std::uint32_t kFlagReload = 0x80000000;  // never from a cache
  static constexpr std::uint32_t kFlagExistingConnect = 0x20000000;
  static constexpr std::uint32_t kInitialRequestFlags = kFlagReload | kFlagExistingConnect;
  static constexpr std::chrono::milliseconds kDefaultConnectTimeout{30000};
  static constexpr std::chrono::milliseconds kDefaultTotalTimeout{60000};
  // The most of a page body ReadPageText takes in; a longer page is too long to keep anyway.
  static constexpr std::size_t kMaxBodyBytes = 4 << 20;
  static constexpr std::size_t kReadChunk = 1023;  // characters per read of the body

  CGetWebPage() = default;
  CGetWebPage(const CGetWebPage&) = delete;
  CGetWebPage& operator=(const CGetWebPage&) = delete;

  std::int32_t Go(std::string_view options, std::string_view url);
  // Go, and on 0 the body of the answer, mark-up removed, becomes the page text.
  std::int32_t ReadPageText(std::string_view options, std::string_view url);
  bool IsStatusOk() const { return m_uStatusCode >= 200 && m_uStatusCode <= 299; }

  // Applies one option ("D", "L", "S", "P", "F"; any case, blanks around ignored).
  static bool ParseOptions(std::string_view option);
  // Drops every tag from the line; a tag left open continues into the next call.
  static void RemoveMarkup(std::string& line);

  std::uint32_t StatusCode() const { return m_uStatusCode; }
  // Go keeps up to this many bytes of the final answer's raw body (0, the default: none).
  void KeepBody(std::size_t max_bytes) { m_uKeepBody = max_bytes; }
  const std::string& Body() const { return m_sBody; }
  bool BodyCut() const { return m_bBodyCut; }  // the page was longer than what was kept
  const CQorStr& PageText() const { return m_sPageText; }
  const CQorStr& Url() const { return m_sUrl; }
  // The last fetch over https: why the server's certificate was refused ("" when it was not),
  // and when the asked URL's certificate stops being valid (seconds since the epoch; 0 unknown).
  const std::string& CertProblem() const { return m_sCertProblem; }
  std::int64_t CertExpiry() const { return m_iCertExpiry; }

  // The process-wide fetch options.
  static std::int32_t AccessType() { return s_iAccessType; }
  static bool StripMode() { return s_bStripMode; }
  static bool ProgressMode() { return s_bProgressMode; }
  static std::uint32_t RequestFlags() { return s_uRequestFlags; }
  // Bounds of every fetch: a connection must stand within the first, the whole fetch (a
  // followed redirect included) must be over within the second.
  static void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total);
  static std::chrono::milliseconds ConnectTimeout();
  static std::chrono::milliseconds TotalTimeout();
  // A PEM file of authorities trusted besides the system's for https ("" none), and the proxy
  // every fetch goes through ("" none: the environment's proxies are not used either).
  static void SetCaFile(std::string_view path);
  static void SetProxy(std::string_view proxy);
  static std::string CaFile();
  static std::string Proxy();
  // Puts every process-wide option and bound back to its start-up value.
  static void ResetOptions();

 private:
  std::int32_t Fetch(std::string_view options, std::string_view url, bool read_text);
  std::int32_t Exchange(CPageSession& session, bool read_text);
  // Sends one request of the fetch, bounded by `left`: what is left of the fetch's bound.
  snx::platform::HttpResult Send(CPageSession& session, const snx::probes::UrlParts& target,
                                 bool read_text, std::chrono::milliseconds left);
  void StorePageText(std::string_view body);
  // The TLS side of one request (get_web_page_tls.cc): asks for https where the target is one,
  // and keeps what the answer tells about the certificate.
  static void PrepareTls(const snx::probes::UrlParts& target, snx::platform::HttpRequest& request);
  void NoteTls(const snx::platform::HttpResult& answer);
  // Refuses (code 2) a redirect from an https page to an http one.
  static void RefuseDowngrade(const snx::probes::UrlParts& from, const snx::probes::UrlParts& to,
                              std::string_view location);

  CQorStr m_sPageText;
  std::uint32_t m_uStatusCode = 1;
  CQorStr m_sUrl;
  std::string m_sCertProblem;
  std::int64_t m_iCertExpiry = 0;
  std::size_t m_uKeepBody = 0;
  std::string m_sBody;
  bool m_bBodyCut = false;

  static inline std::atomic<std::int32_t> s_iAccessType{0};
  static inline std::atomic<bool> s_bStripMode{false};
  static inline std::atomic<bool> s_bProgressMode{false};
  static inline std::atomic<std::uint32_t> s_uRequestFlags{kInitialRequestFlags};
  static inline std::atomic<bool> s_bInsideTag{false};
  static inline std::atomic<std::int64_t> s_iConnectTimeoutMs{kDefaultConnectTimeout.count()};
  static inline std::atomic<std::int64_t> s_iTotalTimeoutMs{kDefaultTotalTimeout.count()};
  static inline std::mutex s_TlsMutex;  // guards the two texts below
  static inline std::string s_sCaFile;
  static inline std::string s_sProxy;
};

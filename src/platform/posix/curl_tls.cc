#include "platform/posix/curl_tls.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <ctime>

namespace snx::platform {
namespace {

// Called once the TLS context holds the system's authorities: the CA file's are added to them
// (libcurl's own CA file option would replace the system's instead).
CURLcode AddCaFile(CURL* /*handle*/, void* ssl_ctx, void* user) {
  const std::string& file = static_cast<const HttpRequest*>(user)->ca_file;
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(ssl_ctx));
  if (store == nullptr || X509_STORE_load_file(store, file.c_str()) != 1) {
    return CURLE_SSL_CACERT_BADFILE;
  }
  return CURLE_OK;
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

void SetUpTls(CURL* handle, const HttpRequest& request) {
  if (!request.https) return;
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!request.ca_file.empty()) {
    // A store kept from an earlier transfer must not get (or lack) this request's additions.
    curl_easy_setopt(handle, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, AddCaFile);
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, const_cast<HttpRequest*>(&request));
  }
  if (request.want_cert_expiry) curl_easy_setopt(handle, CURLOPT_CERTINFO, 1L);
}

void ReadTls(CURL* handle, CURLcode code, std::string_view message, const HttpRequest& request,
             HttpResult& result) {
  if (!request.https) return;
  if (code == CURLE_SSL_CACERT_BADFILE && !request.ca_file.empty()) {
    result.cert_problem = "the CA file " + request.ca_file + " cannot be read";
    return;
  }
  if (code != CURLE_OK && code != CURLE_WRITE_ERROR) {
    long verify = 0;
    curl_easy_getinfo(handle, CURLINFO_SSL_VERIFYRESULT, &verify);
    result.cert_problem = CertificateProblem(code, verify, message);
    return;
  }
  if (!request.want_cert_expiry) return;
  curl_certinfo* info = nullptr;
  if (curl_easy_getinfo(handle, CURLINFO_CERTINFO, &info) != CURLE_OK || info == nullptr ||
      info->num_of_certs < 1) {
    return;
  }
  // The first of the chain is the server's own certificate.
  constexpr std::string_view kExpire = "Expire date:";
  for (curl_slist* field = info->certinfo[0]; field != nullptr; field = field->next) {
    const std::string_view line(field->data);
    if (line.substr(0, kExpire.size()) == kExpire) {
      result.cert_expiry = ParseCertTime(line.substr(kExpire.size()));
      break;
    }
  }
}

std::string CertificateProblem(CURLcode code, long verify_result, std::string_view message) {
  switch (verify_result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "host name mismatch";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return "unknown issuer";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "self-signed";
    default:
      break;
  }
  if (code != CURLE_PEER_FAILED_VERIFICATION) return "";
  // libcurl checks the host name itself and says so only in words.
  if (Contains(message, "host name") || Contains(message, "subject name") ||
      Contains(message, "hostname")) {
    return "host name mismatch";
  }
  if (verify_result != X509_V_OK) return X509_verify_cert_error_string(verify_result);
  return "not trusted";
}

std::int64_t ParseCertTime(std::string_view text) {
  const std::string copy(text);
  std::tm tm{};
  const char* end = strptime(copy.c_str(), " %b %d %H:%M:%S %Y", &tm);
  if (end == nullptr) return 0;
  return static_cast<std::int64_t>(timegm(&tm));
}

}  // namespace snx::platform

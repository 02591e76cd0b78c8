#include "platform/posix/curl_tls.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <mutex>

#include "platform/no_destructor.h"

namespace snx::platform {
namespace {

// Where libcurl would find the system's authorities by itself.
struct SystemAuthorities {
  std::string file;
  std::string folder;
};

const SystemAuthorities& System() {
  static const SystemAuthorities system = [] {
    SystemAuthorities s;
    if (CURL* h = curl_easy_init()) {
      char* text = nullptr;
      if (curl_easy_getinfo(h, CURLINFO_CAINFO, &text) == CURLE_OK && text) s.file = text;
      text = nullptr;
      if (curl_easy_getinfo(h, CURLINFO_CAPATH, &text) == CURLE_OK && text) s.folder = text;
      curl_easy_cleanup(h);
    }
    return s;
  }();
  return system;
}

// The trusted authorities, the system's and the CA file's together, read once and shared by
// every request (reading the system's bundle costs more than a loopback exchange). Read again
// when the CA file changes, and hourly for changes of the system's.
class TrustStore {
 public:
  // A reference to the store for `ca_file` ("" none), the caller's to release; nullptr when the
  // CA file cannot be read.
  X509_STORE* Acquire(const std::string& ca_file) {
    const std::string key = KeyOf(ca_file);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    if (store_ == nullptr || key != key_ || now - built_ > std::chrono::hours(1)) {
      X509_STORE* fresh = Build(ca_file);
      if (fresh == nullptr) return nullptr;
      if (store_ != nullptr) X509_STORE_free(store_);
      store_ = fresh;
      key_ = key;
      built_ = now;
    }
    X509_STORE_up_ref(store_);
    return store_;
  }

 private:
  static std::string KeyOf(const std::string& ca_file) {
    struct stat st {};
    if (ca_file.empty() || ::stat(ca_file.c_str(), &st) != 0) return ca_file;
    return ca_file + "\n" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
  }

  static X509_STORE* Build(const std::string& ca_file) {
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr) return nullptr;
    const SystemAuthorities& system = System();
    if (!system.file.empty()) X509_STORE_load_file(store, system.file.c_str());
    if (!system.folder.empty()) X509_STORE_load_path(store, system.folder.c_str());
    if (system.file.empty() && system.folder.empty()) X509_STORE_set_default_paths(store);
    // As libcurl sets its own store up.
    X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    if (!ca_file.empty() && X509_STORE_load_file(store, ca_file.c_str()) != 1) {
      X509_STORE_free(store);
      return nullptr;
    }
    return store;
  }

  std::mutex mutex_;
  X509_STORE* store_ = nullptr;  // kept for the life of the process
  std::string key_;
  std::chrono::steady_clock::time_point built_;
};

TrustStore& Trust() {
  static NoDestructor<TrustStore> trust;  // requests may still run while the process exits
  return *trust.get();
}

// Gives the TLS context the shared store (libcurl's own CA file option would replace the
// system's authorities instead of adding to them).
CURLcode UseTrustStore(CURL* /*handle*/, void* ssl_ctx, void* user) {
  X509_STORE* store = Trust().Acquire(static_cast<const HttpRequest*>(user)->ca_file);
  if (store == nullptr) return CURLE_SSL_CACERT_BADFILE;
  SSL_CTX_set_cert_store(static_cast<SSL_CTX*>(ssl_ctx), store);  // takes the reference
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
  System();  // learnt before the handle is told to read no authorities itself
  curl_easy_setopt(handle, CURLOPT_CAINFO, nullptr);
  curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
  curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, UseTrustStore);
  curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, const_cast<HttpRequest*>(&request));
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

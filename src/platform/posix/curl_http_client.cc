// The HTTP facility on libcurl: one easy handle per thread, reset before each request; a new
// connection for every request (never one kept alive from an earlier check, nor a resumed TLS
// session or a cached name lookup); plain http unless https is asked for (and then nothing
// else), redirects never followed, the raw header lines of the final answer kept, and every
// request bounded in time.

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "platform/http_client.h"
#include "platform/no_destructor.h"
#include "platform/posix/curl_tls.h"

namespace snx::platform {
namespace {

// Header lines beyond this are refused as a broken answer rather than kept in memory.
constexpr std::size_t kMaxHeaderBytes = 1 << 20;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The thread's easy handle: made once, reset before each request. A request made while the
// thread's handle is in use (from inside a callback of another) gets a handle of its own.
class HandleLease {
 public:
  HandleLease() {
    Slot& slot = ThreadSlot();
    if (slot.busy) {
      own_.reset(curl_easy_init());
      handle_ = own_.get();
      return;
    }
    if (slot.handle) {
      curl_easy_reset(slot.handle.get());
    } else {
      slot.handle.reset(curl_easy_init());
    }
    handle_ = slot.handle.get();
    slot.busy = handle_ != nullptr;
  }
  ~HandleLease() {
    if (!own_ && handle_ != nullptr) ThreadSlot().busy = false;
  }
  HandleLease(const HandleLease&) = delete;
  HandleLease& operator=(const HandleLease&) = delete;
  CURL* get() const { return handle_; }

 private:
  struct Slot {
    std::unique_ptr<CURL, CurlDeleter> handle;
    bool busy = false;
  };
  static Slot& ThreadSlot() {
    thread_local Slot slot;
    return slot;
  }
  std::unique_ptr<CURL, CurlDeleter> own_;
  CURL* handle_ = nullptr;
};

struct Exchange {
  const HttpRequest* request = nullptr;
  HttpResult* result = nullptr;
  bool stopped_on_purpose = false;  // the body was not wanted, or no more of it
  bool headers_too_long = false;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  const size_t n = size * count;
  std::string_view line(data, n);
  // An interim answer (100 Continue) comes before the final one: keep only the last answer.
  if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") ex->result->raw_headers.clear();
  if (ex->result->raw_headers.size() + n > kMaxHeaderBytes) {
    ex->headers_too_long = true;
    return 0;
  }
  ex->result->raw_headers.append(line);
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  const size_t n = size * count;
  const size_t limit = ex->request->max_body_bytes;
  std::string& body = ex->result->body;
  if (body.size() + n <= limit) {
    body.append(data, n);
    return n;
  }
  body.append(data, limit - body.size());
  // A caller that wanted no body at all has not been cut short; one that wanted some has.
  if (limit > 0) ex->result->body_cut = true;
  if (ex->request->read_to_end) return n;  // the rest is read and dropped
  ex->stopped_on_purpose = true;
  return 0;  // ends the transfer; reported as a write error and recognised below
}

int OnPrereq(void* user, char*, char*, int, int) {
  auto* ex = static_cast<Exchange*>(user);
  try {
    if (ex->request->on_connected) ex->request->on_connected();
  } catch (...) {
    // A failing observer must not abort the request nor unwind through the C library.
  }
  return CURL_PREREQFUNC_OK;
}

long Millis(std::chrono::milliseconds span) {
  // 0 would mean "no bound" to libcurl: the shortest bound is one millisecond.
  return static_cast<long>(std::max<std::chrono::milliseconds::rep>(span.count(), 1));
}

std::string BuildUrl(const HttpRequest& request) {
  std::string url = request.https ? "https://" : "http://";
  const bool ipv6 = request.host.find(':') != std::string::npos;
  if (ipv6) url += '[';
  url += request.host;
  if (ipv6) url += ']';
  url += ':';
  url += std::to_string(request.port);
  if (request.path.empty() || request.path.front() != '/') url += '/';
  url += request.path;
  return url;
}

class CurlHttpClient : public HttpClient {
 public:
  HttpResult Fetch(const HttpRequest& request) override {
    InitCurlOnce();
    HttpResult result;
    const HandleLease handle;
    if (handle.get() == nullptr) {
      result.error_number = CURLE_FAILED_INIT;
      result.error_message = curl_easy_strerror(CURLE_FAILED_INIT);
      return result;
    }
    CURL* h = handle.get();
    Exchange ex;
    ex.request = &request;
    ex.result = &result;
    char error_text[CURL_ERROR_SIZE] = {};

    std::unique_ptr<curl_slist, SlistDeleter> headers;
    for (const auto& line : request.headers) {
      curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
      if (grown == nullptr) {
        result.error_number = CURLE_OUT_OF_MEMORY;
        result.error_message = curl_easy_strerror(CURLE_OUT_OF_MEMORY);
        return result;
      }
      (void)headers.release();
      headers.reset(grown);
    }

    const std::string url = BuildUrl(request);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_text);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    const char* protocol = request.https ? "https" : "http";
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, protocol);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, protocol);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // The handle outlives the request: nothing of this request is kept for the next one.
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    curl_easy_setopt(h, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    // Nor the authorities of an earlier request: each request's own store (its CA file) counts.
    curl_easy_setopt(h, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, Millis(request.connect_timeout));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, Millis(request.total_timeout));
    if (request.method == "GET") {
      curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else {
      curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    if (!request.body.empty()) {
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());  // outlives the request
    }
    if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    if (request.proxy) {
      curl_easy_setopt(h, CURLOPT_PROXY, request.proxy->c_str());
      curl_easy_setopt(h, CURLOPT_NOPROXY, "");  // nor the environment's exceptions
    } else if (request.direct) {
      curl_easy_setopt(h, CURLOPT_PROXY, "");
    }
    SetUpTls(h, request);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &ex);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &ex);
    if (request.on_connected) {
      curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, OnPrereq);
      curl_easy_setopt(h, CURLOPT_PREREQDATA, &ex);
    }

    const CURLcode rc = curl_easy_perform(h);
    if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && ex.stopped_on_purpose)) {
      long status = 0;
      curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
      result.answered = true;
      result.status = static_cast<std::uint32_t>(status);
      ReadTls(h, rc, "", request, result);
      return result;
    }
    result.error_number = static_cast<int>(rc);
    if (ex.headers_too_long) {
      result.error_message = "the answer's header lines are too long";
    } else if (error_text[0] != '\0') {
      result.error_message = error_text;
    } else {
      result.error_message = curl_easy_strerror(rc);
    }
    ReadTls(h, rc, result.error_message, request, result);
    result.raw_headers.clear();
    result.body.clear();
    return result;
  }
};

}  // namespace

template <>
HttpClient& DefaultFacility<HttpClient>() {
  static NoDestructor<CurlHttpClient> client;
  return *client.get();
}

}  // namespace snx::platform

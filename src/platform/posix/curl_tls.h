#pragma once
// The TLS side of an https request on libcurl: the extra authorities of a CA file trusted
// besides the system's, the reason a certificate was refused, and when the server's own
// certificate stops being valid.

#include <curl/curl.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/http_client.h"

namespace snx::platform {

// Sets the handle up for the request's TLS wishes; the request must outlive the transfer.
void SetUpTls(CURL* handle, const HttpRequest& request);

// After the transfer: the certificate's refusal reason and its end of validity.
void ReadTls(CURL* handle, CURLcode code, std::string_view message, const HttpRequest& request,
             HttpResult& result);

// The reason a certificate was refused, from libcurl's code, OpenSSL's verify result and
// libcurl's message; "" when the failure is not about the certificate.
std::string CertificateProblem(CURLcode code, long verify_result, std::string_view message);

// "Mar  1 12:00:00 2027 GMT" (OpenSSL's way of writing a time) as seconds since the epoch; 0
// when the text is no such time.
std::int64_t ParseCertTime(std::string_view text);

}  // namespace snx::platform

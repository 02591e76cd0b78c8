#pragma once
// CPulsePush: one push to a monitor outside the machine: an HTTP GET of a URL, following at
// most one redirect, all of it bounded to 10 seconds. A user name and password in the URL are
// never sent, nor its fragment; an https URL is never redirected to plain http.

#include <chrono>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/http_client.h"

struct PushOutcome {
  bool ok = false;     // answered with a status of 200 to 299
  std::string why;     // why not; empty when ok
  std::string report;  // what was done, in one line
};

class CPulsePush {
 public:
  static constexpr std::chrono::seconds kBound{10};

  CPulsePush(snx::platform::HttpClient& http, snx::platform::Clock& clock)
      : http_(http), clock_(clock) {}

  PushOutcome Push(std::string_view url);

 private:
  snx::platform::HttpClient& http_;
  snx::platform::Clock& clock_;
};

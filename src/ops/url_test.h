#pragma once
// The rule of a good URL, shared by the Go cycle and snxctl cycle: the page fetch with the
// option "D" answered (result 0 or less) with a status from 200 to 299.

#include <cstdint>
#include <string_view>

#include "probes/get_web_page.h"

struct CUrlOutcome {
  std::int32_t result = 0;   // the fetch's result: above 0 when it failed outright
  std::uint32_t status = 0;  // the answer's status code when result <= 0
  bool good = false;
};

inline CUrlOutcome TestUrl(std::string_view url) {
  CGetWebPage page;
  CUrlOutcome outcome;
  outcome.result = page.Go("D", url);
  outcome.status = outcome.result <= 0 ? page.StatusCode() : 0;
  outcome.good = outcome.result <= 0 && page.IsStatusOk();
  return outcome;
}

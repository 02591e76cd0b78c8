// The watcher's counter-path parser: never crashes, and what it accepts builds back to a path
// it accepts again with the same parts.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "text/counter_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace snx::platform;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = ParseCounterPath(text);
  if (!parsed) return 0;
  const auto again =
      ParseCounterPath(BuildCounterPath(parsed->machine, parsed->stem, parsed->counter));
  if (!again || again->machine != parsed->machine || again->stem != parsed->stem ||
      again->counter != parsed->counter) {
    std::abort();
  }
  return 0;
}

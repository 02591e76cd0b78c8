// The launcher's word splitting and separator folding: never crash, never make a word out of
// nothing, and words never hold the blanks that separate them unless a quote was there.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/launcher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace snx::platform;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const auto words = SplitCommandLine(line);
  std::size_t total = 0;
  const bool quoted = line.find('"') != std::string_view::npos;
  for (const auto& w : words) {
    total += w.size();
    if (!quoted && (w.empty() || w.find(' ') != std::string::npos)) std::abort();
    const std::string folded = FoldSeparators(w);
    if (folded.find("//") != std::string::npos && w.find('\\') != std::string::npos) std::abort();
    (void)BaseStem(w);
  }
  if (total > line.size()) std::abort();
  return 0;
}

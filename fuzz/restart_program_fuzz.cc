// libFuzzer target: the restart program reader fed with any bytes as "Sentinex.ini".
//
// The engine loads the bytes as the service does (over fakes: nothing is started), and the
// loaded program is walked and described. A load may fail (a line too long, a "Detect" without
// a folder), but nothing may crash, and every step must keep its text within the bounds.

#include <stdlib.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "components/fake/fake_component_factory.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_key_store.h"
#include "platform/fake/fake_launcher.h"
#include "platform/fake/fake_power.h"
#include "recovery/instruction.h"
#include "recovery/mender.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "snxfuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    return pattern + "/";
  }();
  return folder;
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file = Folder() + "Sentinex.ini";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  ::chmod(file.c_str(), 0600);
  static snx::platform::FakeClock clock;
  static snx::platform::FakeLauncher launcher;
  static snx::platform::FakePower power;
  static snx::platform::FakeKeyStore keys;
  static snx::platform::FakeComponentFactory components(&keys);
  CMender engine(clock, launcher, power, keys, components);
  engine.SetDryRun(true);
  engine.LoadProgram(Folder());
  Check(engine.InstructionCount() <= static_cast<int>(size));
  for (const CInstruction* step : engine.Instructions()) {
    Check(step != nullptr);
    Check(step->Name().Length() > 0 && step->Name().Length() < 260);
    Check(step->Value().Length() < 260);
    engine.DescribeStep(*step);
  }
  engine.RunDetectOperations();
  engine.RunRestarterOperations();
  Check(launcher.Calls().empty());
  return 0;
}

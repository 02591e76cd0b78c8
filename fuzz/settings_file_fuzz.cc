// libFuzzer target: the settings loader fed with any bytes as the settings file.
//
// The bytes are taken as the enciphered file on disk; the image and the model load it as the
// service does, every section is walked, a key is set and the image is saved and loaded again.
// A load may fail (a line too long), but nothing may crash, and whatever a save writes must load
// back as the same lines.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/all_sets.h"
#include "files/ram_file_ro.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "snxfuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    return pattern;
  }();
  return folder;
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file = Folder() + "/AutoSet.caf";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  CRamFileRO image;
  CAllSets sets;
  sets.SetProgramDirectory(Folder());
  sets.SetSettingsImage(&image);
  if (!sets.ReInitialize()) return 0;

  for (const char* section : {"[URLS]", "[RURLS]", "[STOPS]", "[PROGS]", "[EMAILS]"}) {
    int lines = 0;
    for (const char* l = image.FirstLineOfSection(section); *l != '\0';
         l = image.NextLineOfSection()) {
      Check(++lines <= static_cast<int>(size));
    }
  }
  Check(image.SetKey("FuzzKey", "value"));
  Check(std::string(image.GetKey("fuzzkey")) == "value" || image.HasKey("FuzzKey"));

  // Lines with characters the cipher cannot carry make the save fail; then the file stays.
  if (!image.SaveToFile()) return 0;
  std::vector<std::string> expected;
  for (const auto& line : image.Lines()) {
    CQorStr trimmed{std::string_view(line)};
    trimmed.Trim();
    if (trimmed.Length() > 0) expected.push_back(trimmed.ToString());
  }
  CRamFileRO again;
  Check(again.Initialize(Folder(), CAllSets::kSettingsFileName));
  Check(again.Lines() == expected);
  return 0;
}

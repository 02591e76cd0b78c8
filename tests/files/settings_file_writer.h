#pragma once
// Settings files for the tests: "AutoSet.caf" written into a folder as the service would, the
// settings model loaded from it, the e-mail keys of a sound file, and a change made as
// `snxctl conf` makes it; and a file system whose renames fail, as over a busy or read-only file.

#include <gtest/gtest.h>

#include "files/all_sets.h"
#include "files/crypto_txtfile.h"
#include "files/ram_file_ro.h"
#include "platform/fake/forwarding_file_system.h"
#include "support/test_support.h"

namespace snx::test {

inline void WriteSettings(const TempDir& dir, const std::vector<std::string>& lines) {
  CCryptoTxtfile file;
  ASSERT_TRUE(file.Initialize(CCryptoTxtfile::kSettingsLineSize));
  ASSERT_TRUE(file.Create(dir.File("AutoSet.caf")));
  for (const auto& l : lines) ASSERT_TRUE(file.Append(l));
  ASSERT_TRUE(file.Close());
}

// Writes the settings file through `image` and loads `sets` from it, as the command object does.
inline void LoadSettings(const TempDir& dir, const std::vector<std::string>& lines,
                         CRamFileRO& image, CAllSets& sets) {
  ASSERT_TRUE(image.InitializeWithLines(dir.path() + "/", CAllSets::kSettingsFileName, lines));
  ASSERT_TRUE(image.SaveToFile());
  sets.SetProgramDirectory(dir.path() + "/");
  sets.SetSettingsImage(&image);
  ASSERT_TRUE(sets.ReInitialize());
}

// The e-mail keys of a sound settings file that mails through `server`.
inline std::vector<std::string> EmailKeys(const std::string& server, const std::string& url) {
  return {"SmtpServer=" + server,
          "EmailFrom=watch@example.org",
          "EmailSubject=Server up",
          "EmailSubjectDn=Server down",
          "EmailBodyUp=All is well again.",
          "EmailBodyDown=The server is down.",
          "EmailUrl=" + url};
}

// What snxctl conf does: a locked read-modify-write of the file by an image of its own.
inline void ConfChange(const std::string& folder, const std::function<bool(CRamFileRO&)>& change) {
  CRamFileRO conf;
  conf.InitializeWithLines(folder, CAllSets::kSettingsFileName, {});
  ASSERT_TRUE(conf.Update(change));
}

class RenameFails : public platform::ForwardingFileSystem {
 public:
  bool Rename(std::string_view, std::string_view) override { return false; }
};

}  // namespace snx::test

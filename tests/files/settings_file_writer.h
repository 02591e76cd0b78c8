#pragma once
// Writes a settings file "AutoSet.caf" into a folder as the service would, for the settings
// tests to load.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/crypto_txtfile.h"
#include "support/test_support.h"

namespace snx::test {

inline void WriteSettings(const TempDir& dir, const std::vector<std::string>& lines) {
  CCryptoTxtfile file;
  ASSERT_TRUE(file.Initialize(CCryptoTxtfile::kSettingsLineSize));
  ASSERT_TRUE(file.Create(dir.File("AutoSet.caf")));
  for (const auto& l : lines) ASSERT_TRUE(file.Append(l));
  ASSERT_TRUE(file.Close());
}

}  // namespace snx::test

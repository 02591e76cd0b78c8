#pragma once
// CFolderNames: the names of the system folders the Startup shortcut path is made of, in the
// language of the settings (101 Italian; every other code English).

#include <cstdint>
#include <string_view>

#include "core/qor_object.h"
#include "core/qor_str.h"

class CFolderNames : public CQorObject {
 public:
  static constexpr std::int32_t kEnglish = 100;
  static constexpr std::int32_t kItalian = 101;

  bool Initialize(std::int32_t language);
  // The name for the language; "" for a name outside the table.
  const char* Translate(std::string_view english_name);

 private:
  std::int32_t m_iLanguage = kEnglish;
  bool m_bInitialized = false;
  CQorStr m_sResult;
};

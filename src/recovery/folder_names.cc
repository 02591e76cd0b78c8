#include "recovery/folder_names.h"

namespace {

struct FolderName {
  const char* english;
  const char* italian;
};

constexpr FolderName kFolderNames[] = {
    {"Program Files", "programmi"},
    {"Start Menu", "Menu Avvio"},
    {"Startup", "Esecuzione Automatica"},
    {"Programs", "Programmi"},
};

}  // namespace

bool CFolderNames::Initialize(std::int32_t language) {
  SetState(kLive);
  m_iLanguage = language;
  m_bInitialized = true;
  return true;
}

const char* CFolderNames::Translate(std::string_view english_name) {
  m_sResult.Clear();
  const CQorStr name(english_name);
  for (const auto& entry : kFolderNames) {
    if (name.IsSame(entry.english)) {
      m_sResult.Assign(m_iLanguage == kItalian ? entry.italian : entry.english);
      break;
    }
  }
  return m_sResult.GetBuffer();
}

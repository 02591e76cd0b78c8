#include "files/ram_file_ro.h"

#include <cstdio>
#include <string>

#include "core/log_writer.h"
#include "platform/ascii.h"
#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/path_map.h"

using snx::platform::EqualsNoCase;
using snx::platform::Files;
using snx::platform::IsPathSeparator;

namespace {

bool HoldsBracket(std::string_view line) { return line.find('[') != std::string_view::npos; }

// The key of a "[KEYS]" line matches `name` (both trimmed, without case); `value` is then the
// text after the first "=" (the whole line without one), not trimmed.
bool KeyMatches(std::string_view line, std::string_view name, std::string_view& value) {
  const auto eq = line.find('=');
  if (eq == 0) return false;  // a line that begins with "=" names no key
  const std::string_view key = eq == std::string_view::npos ? line : line.substr(0, eq);
  if (!EqualsNoCase(CQorStr::Trimmed(key), CQorStr::Trimmed(name))) return false;
  value = eq == std::string_view::npos ? line : line.substr(eq + 1);
  return true;
}

std::unique_ptr<CCryptoTxtfile> NewSettingsFile(const CQorStr& path) {
  auto file = std::make_unique<CCryptoTxtfile>();
  file->Initialize(CCryptoTxtfile::kSettingsLineSize);
  file->Assign(path);
  return file;
}

}  // namespace

CRamFileRO::CRamFileRO() = default;

CRamFileRO::~CRamFileRO() { FreeLines(); }

std::string CRamFileRO::JoinPath(std::string_view directory, std::string_view name) {
  const bool dir_has = !directory.empty() && IsPathSeparator(directory.back());
  const bool name_has = !name.empty() && IsPathSeparator(name.front());
  std::string path(directory);
  if (!dir_has && !name_has) {
    path += '\\';
    path += name;
  } else if (dir_has && name_has) {
    path += name.substr(1);
  } else {
    path += name;
  }
  return path;
}

bool CRamFileRO::SetPathFrom(std::string_view directory, std::string_view name) {
  m_bInitialized = false;
  SetState(kLive);
  m_sDirectory.Assign(directory);
  if (m_sDirectory.IsEmpty()) return false;
  m_sFileName.Assign(name);
  if (m_sFileName.IsEmpty()) return false;
  return m_sPath.Assign(std::string_view(JoinPath(m_sDirectory, m_sFileName)));
}

bool CRamFileRO::Initialize(std::string_view directory, std::string_view name) {
  if (SetPathFrom(directory, name)) {
    if (m_Lines.Count() > 0) {
      m_bInitialized = true;
      return true;
    }
    m_pCryptoFile = NewSettingsFile(m_sPath);
    m_bInitialized = LoadToRam();
  }
  if (!m_bInitialized) LogError("CRamFileRO::Initialize() failed.");
  return m_bInitialized;
}

bool CRamFileRO::InitializeWithLines(std::string_view directory, std::string_view name,
                                     const std::vector<std::string>& lines) {
  if (SetPathFrom(directory, name)) {
    m_bInitialized = ReplaceLines(lines);
    m_pCryptoFile = NewSettingsFile(m_sPath);
  }
  if (!m_bInitialized) LogError("CRamFileRO::Initialize() failed.");
  return m_bInitialized;
}

bool CRamFileRO::IsLive() {
  if (!m_bInitialized) {
    LogError("CRamFileRO::IsLive() Object is not initialized.");
    return false;
  }
  return CQorObject::IsLive();
}

void CRamFileRO::FreeLines() {
  for (auto* node = m_Lines.Head(); node != nullptr; node = node->next) {
    std::unique_ptr<CQorStr> line(static_cast<CQorStr*>(node->data));
    node->data = nullptr;
  }
  m_Lines.RemoveAll();
  m_bSectionEnded = true;
}

bool CRamFileRO::LoadToRam() {
  // A fresh reader each time: the cipher positions start again at the first line.
  m_pCryptoFile = NewSettingsFile(m_sPath);
  CCryptoTxtfile& file = *m_pCryptoFile;
  bool ok = false;
  std::vector<std::unique_ptr<CQorStr>> lines;
  // Create the file only when there is none: a file that cannot be opened must keep its data.
  const bool exists = Files().Exists(m_sPath);
  const auto size = exists ? Files().Size(m_sPath) : std::optional<std::int64_t>(0);
  if (size && *size > kMaxFileBytes) {
    LogError("CRamFileRO::LoadToRam() " + std::string(m_sPath.View()) + " holds " +
             std::to_string(*size) + " bytes; a settings file holds at most " +
             std::to_string(kMaxFileBytes));
  } else if (exists ? file.OpenForReadOnly(m_sPath) : file.Create(m_sPath)) {
    // The file may still grow while it is read: the bound holds for what is read as well.
    std::int64_t read = 0;
    while (read <= kMaxFileBytes && file.ReadTextLine()) {
      lines.push_back(std::make_unique<CQorStr>(CQorStr::Trimmed(file.Line())));
      read += file.LineBufferSize() + 2;
    }
    ok = read <= kMaxFileBytes && file.AtEndOfFile() && !file.ReadFailed();
  }
  file.Close();
  if (ok) {
    FreeLines();
    for (auto& line : lines) {
      if (!m_Lines.AppendLink(line.get())) {
        ok = false;
        break;
      }
      line.release();
    }
    m_bChanged = false;
  }
  if (!ok) LogError("CRamFileRO::LoadToRam() failed.");
  return ok;
}

bool CRamFileRO::SaveToFile() {
  // The settings file has no attributes to set here: its new copy is made readable and
  // writable by its owner only, and replaces the old file in one rename.
  if (m_pCryptoFile) m_pCryptoFile->Close();
  CCryptoTxtfile coder;
  bool ok = !m_sPath.View().empty() && coder.Initialize(CCryptoTxtfile::kSettingsLineSize);
  std::string bytes;
  for (auto* node = m_Lines.Head(); node != nullptr && ok; node = node->next) {
    const std::string_view text = CQorStr::Trimmed(static_cast<const CQorStr*>(node->data)->View());
    if (!text.empty()) ok = coder.EncipherLine(text, bytes);
  }
  if (!ok) LogError("CCryptoTxtfile::Append failed.");
  ok = ok && snx::platform::ReplaceFileWith(Files(), m_sPath, bytes, CCryptoTxtfile::kCreateMode);
  m_pCryptoFile = NewSettingsFile(m_sPath);
  if (ok) {
    m_bChanged = false;
  } else {
    LogError("CRamFileRO::SaveToFile() failed.");
    if (!snx::platform::LastFileError().empty()) LogError(snx::platform::LastFileError());
  }
  return ok;
}

bool CRamFileRO::Update(const std::function<bool(CRamFileRO&)>& change,
                        const std::function<void()>& settled) {
  if (m_sPath.View().empty()) return false;
  snx::platform::SetLastFileError("");
  const auto lock = Files().LockForUpdate(m_sPath, snx::platform::kUpdateLockWait);
  if (!lock) {
    LogError("CRamFileRO::Update() " + snx::platform::LastFileError());
    return false;
  }
  // The change is made to the file as it is now, not as this image last saw it.
  if (Files().Exists(m_sPath)) {
    if (!LoadToRam()) return false;
  } else {
    FreeLines();
    m_bChanged = false;
  }
  m_bInitialized = true;
  if (!change(*this)) return false;
  if (m_bChanged && !SaveToFile()) return false;
  if (settled) settled();
  return true;
}

bool CRamFileRO::ReplaceLines(const std::vector<std::string>& lines) {
  FreeLines();
  m_bChanged = true;
  for (const auto& text : lines) {
    auto line = std::make_unique<CQorStr>(std::string_view(text));
    line->Trim();
    if (!m_Lines.AppendLink(line.get())) return false;
    line.release();
  }
  return true;
}

bool CRamFileRO::FindSection(std::string_view section) {
  const std::string_view wanted = CQorStr::Trimmed(section);
  for (void* data = m_Lines.GetFirst(); data != nullptr; data = m_Lines.GetNext()) {
    const std::string_view line = CQorStr::Trimmed(static_cast<CQorStr*>(data)->View());
    if (line.empty() || line.front() != '[' || !EqualsNoCase(line, wanted)) continue;
    void* next = m_Lines.GetNext();
    return next != nullptr && !HoldsBracket(static_cast<CQorStr*>(next)->View());
  }
  // No such section: its header goes at the end, so that a later save writes it. The walk ran
  // off the end, so a line inserted now is appended after the header.
  auto header = std::make_unique<CQorStr>(section);
  if (m_Lines.AppendLink(header.get())) header.release();
  return false;
}

void CRamFileRO::SkipToSectionEnd() {
  while (true) {
    void* next = m_Lines.GetNext();
    if (next == nullptr || HoldsBracket(static_cast<CQorStr*>(next)->View())) return;
  }
}

bool CRamFileRO::InsertAtCursor(std::string_view text) {
  auto line = std::make_unique<CQorStr>(text);
  if (!m_Lines.InsertLink(line.get())) return false;
  line.release();
  m_bChanged = true;
  return true;
}

const char* CRamFileRO::GetKey(std::string_view name) {
  m_sKeyValue.Clear();
  if (!FindSection(kKeysSection)) return m_sKeyValue.GetBuffer();
  for (CQorStr* line = CurrentLine(); line != nullptr;) {
    std::string_view value;
    if (KeyMatches(line->View(), name, value)) {
      m_sKeyValue.Assign(value);
      break;
    }
    line = static_cast<CQorStr*>(m_Lines.GetNext());
    if (line != nullptr && HoldsBracket(line->View())) break;
  }
  return m_sKeyValue.GetBuffer();
}

bool CRamFileRO::HasKey(std::string_view name) {
  if (!FindSection(kKeysSection)) return false;
  for (CQorStr* line = CurrentLine(); line != nullptr;) {
    std::string_view value;
    if (KeyMatches(line->View(), name, value)) return true;
    line = static_cast<CQorStr*>(m_Lines.GetNext());
    if (line != nullptr && HoldsBracket(line->View())) return false;
  }
  return false;
}

bool CRamFileRO::SetKey(std::string_view name, std::string_view value) {
  std::string text(name);
  text += '=';
  text += value;
  if (FindSection(kKeysSection)) {
    for (CQorStr* line = CurrentLine(); line != nullptr;) {
      std::string_view old_value;
      if (KeyMatches(line->View(), name, old_value)) {
        if (line->View() == text) return true;
        m_bChanged = true;
        return line->Assign(std::string_view(text));
      }
      line = static_cast<CQorStr*>(m_Lines.GetNext());
      if (line != nullptr && HoldsBracket(line->View())) break;
    }
  }
  // The cursor stands on the next section's header, or the walk ran off the end of the list.
  return InsertAtCursor(text);
}

const char* CRamFileRO::FirstLineOfSection(std::string_view section) {
  m_sSection.Assign(section);
  m_sSectionLine.Clear();
  m_bSectionEnded = !FindSection(section);
  if (!m_bSectionEnded) m_sSectionLine.Assign(*CurrentLine());
  return m_sSectionLine.GetBuffer();
}

const char* CRamFileRO::NextLineOfSection() {
  m_sSectionLine.Clear();
  // Once a walk has reached the end of its section it stays there: the lines that follow
  // belong to another section.
  if (m_sSection.IsEmpty() || m_bSectionEnded) return m_sSectionLine.GetBuffer();
  auto* line = static_cast<CQorStr*>(m_Lines.GetNext());
  if (line == nullptr || HoldsBracket(line->View())) {
    m_bSectionEnded = true;
  } else {
    m_sSectionLine.Assign(*line);
  }
  return m_sSectionLine.GetBuffer();
}

bool CRamFileRO::AddLineToSection(std::string_view section, std::string_view line) {
  if (FindSection(section)) SkipToSectionEnd();
  m_bSectionEnded = true;
  return InsertAtCursor(line);
}

bool CRamFileRO::RemoveLineFromSection(std::string_view section, std::string_view line) {
  m_bSectionEnded = true;
  const std::string_view wanted = CQorStr::Trimmed(line);
  if (!FindSection(section)) return false;
  for (CQorStr* current = CurrentLine(); current != nullptr;) {
    if (CQorStr::Trimmed(current->View()) == wanted) {
      std::unique_ptr<CQorStr> owned(current);
      m_Lines.RemoveLink(m_Lines.CurrentLink(), true);
      m_bChanged = true;
      return true;
    }
    current = static_cast<CQorStr*>(m_Lines.GetNext());
    if (current != nullptr && HoldsBracket(current->View())) return false;
  }
  return false;
}

std::vector<std::string> CRamFileRO::Lines() const {
  std::vector<std::string> out;
  for (auto* node = m_Lines.Head(); node != nullptr; node = node->next) {
    out.push_back(static_cast<const CQorStr*>(node->data)->ToString());
  }
  return out;
}

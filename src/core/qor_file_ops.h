#pragma once
// CQorFileOps: the file-system operations the rest of the system uses, with user-readable
// warnings. Paths are the system's path texts; "/" and "\" both separate components.

#include <cstdint>
#include <string_view>

#include "core/qor_str.h"

class CQorFileOps {
 public:
  bool FileExists(std::string_view path);
  bool DeleteFile(std::string_view path);
  bool CopyFile(std::string_view source, std::string_view target);
  // Size in bytes, or -1 (with an error line) when the file cannot be opened.
  std::int64_t FileSizeOf(std::string_view path);
  // Full path of the loaded module of that file name, or of the executable.
  const char* ModulePath(std::string_view module_name);
  // The folder part, ending with a separator ("\" when the path has none).
  const char* DirectoryOf(std::string_view path);
  // The last path component, trimmed.
  const char* FileNameOf(std::string_view path);
  // base = text before the first "."; rest = text after it ("" without a ".").
  void SplitName(std::string_view name, CQorStr& base, CQorStr& rest);
  bool DirectoryExists(std::string_view path);

  void SetQuiet(bool quiet) { m_bQuiet = quiet; }
  const CQorStr& Message() const { return m_sMessage; }

 private:
  void Warn(std::string_view text);

  CQorStr m_sFileName;
  CQorStr m_sDirectory;
  bool m_bQuiet = false;
  CQorStr m_sMessage;
  CQorStr m_sModulePath;
};

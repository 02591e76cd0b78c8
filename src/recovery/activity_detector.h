#pragma once
// CActivityDetector: the "Detect" step. The watched file's first line must change between
// runs: the last line seen is kept in a copy of the same file name in the installation folder.

#include <string_view>

#include "core/qor_object.h"
#include "core/qor_str.h"
#include "files/txt_file4.h"

class CActivityDetector : public CQorObject {
 public:
  static constexpr int kLineBufferSize = 256;
  // Added to the copy's name when the watched file is itself in the installation folder.
  static constexpr const char* kOwnFolderSuffix = ".copy";

  CActivityDetector() = default;
  CActivityDetector(const CActivityDetector&) = delete;
  CActivityDetector& operator=(const CActivityDetector&) = delete;

  bool Initialize(std::string_view name, std::string_view folder, std::string_view install_folder);
  bool IsActive();
  bool TakeCopy();

  bool IsReady() const { return m_bReady; }
  const CQorStr& WatchedPath() const { return m_sWatchedPath; }
  const CQorStr& CopyPath() const { return m_sCopyPath; }
  const CQorStr& CurrentLine() const { return m_sCurrentLine; }
  const CQorStr& SavedLine() const { return m_sSavedLine; }

 private:
  // The first line of the file at `path`, or false when it cannot be opened.
  static bool ReadFirstLine(CTxtFile4& file, std::string_view path, bool quiet, CQorStr& line);

  CQorStr m_sWatchedPath;
  CQorStr m_sCopyPath;
  CQorStr m_sInstallFolder;
  CQorStr m_sCurrentLine;
  CQorStr m_sSavedLine;
  bool m_bReady = false;
  CTxtFile4 m_WatchedFile;
  CTxtFile4 m_CopyFile;
};

// Adds a "\" when the text is not empty and does not end with "\" or "/".
void EndWithSeparator(CQorStr& folder);

#include "recovery/activity_detector.h"

#include "platform/path_map.h"

void EndWithSeparator(CQorStr& folder) {
  const std::string_view text = folder.View();
  if (!text.empty() && !snx::platform::IsPathSeparator(text.back())) folder.Append('\\');
}

bool CActivityDetector::Initialize(std::string_view name, std::string_view folder,
                                   std::string_view install_folder) {
  SetState(kLive);
  m_bReady = false;
  CQorStr file_name(name);
  file_name.Trim();
  if (file_name.IsEmpty()) return false;
  CQorStr watched(folder);
  watched.Trim();
  if (watched.IsEmpty()) return false;
  EndWithSeparator(watched);
  m_sWatchedPath.Assign(watched);
  m_sWatchedPath.Append(file_name);

  m_sInstallFolder.Assign(install_folder);
  m_sInstallFolder.Trim();
  if (m_sInstallFolder.IsEmpty()) return false;
  EndWithSeparator(m_sInstallFolder);
  m_sCopyPath.Assign(m_sInstallFolder);
  m_sCopyPath.Append(file_name);
  // A watched file in the installation folder would be its own copy: every run would find it
  // unchanged, and taking the copy would cut the file down to its first line.
  if (snx::platform::ToPosixPath(m_sCopyPath) == snx::platform::ToPosixPath(m_sWatchedPath)) {
    m_sCopyPath.Append(kOwnFolderSuffix);
  }

  m_sCurrentLine.Clear();
  m_sSavedLine.Clear();
  if (!m_WatchedFile.Initialize(kLineBufferSize) || !m_CopyFile.Initialize(kLineBufferSize)) {
    return false;
  }
  m_bReady = true;
  return true;
}

bool CActivityDetector::ReadFirstLine(CTxtFile4& file, std::string_view path, bool quiet,
                                      CQorStr& line) {
  const bool opened = quiet ? file.TryOpenForReadOnly(path) : file.OpenForReadOnly(path);
  if (!opened) return false;
  file.ReadTextLine();  // a short last line stands in the buffer even when it reports the end
  line.Assign(file.Line());
  file.Close();
  return true;
}

bool CActivityDetector::IsActive() {
  if (!ReadFirstLine(m_WatchedFile, m_sWatchedPath, true, m_sCurrentLine)) return false;
  if (m_sCurrentLine.IsEmpty()) return true;
  if (!ReadFirstLine(m_CopyFile, m_sCopyPath, false, m_sSavedLine)) m_sSavedLine.Clear();
  return !m_sCurrentLine.IsSame(m_sSavedLine);
}

bool CActivityDetector::TakeCopy() {
  ReadFirstLine(m_WatchedFile, m_sWatchedPath, true, m_sCurrentLine);
  if (m_CopyFile.Create(m_sCopyPath)) {
    m_CopyFile.WriteLine(m_sCurrentLine);
    m_CopyFile.Close();
  }
  return true;
}

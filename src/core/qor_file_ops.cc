#include "core/qor_file_ops.h"

#include "core/log_writer.h"
#include "platform/file_system.h"
#include "platform/path_map.h"

namespace {

// Position of the last separator of a path text, or npos.
std::size_t LastSeparator(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (snx::platform::IsPathSeparator(path[i - 1])) return i - 1;
  }
  return std::string_view::npos;
}

}  // namespace

void CQorFileOps::Warn(std::string_view text) {
  m_sMessage.Assign(text);
  if (!m_bQuiet) LogError(text);
}

bool CQorFileOps::FileExists(std::string_view path) {
  return !path.empty() && snx::platform::Files().Exists(path);
}

bool CQorFileOps::DeleteFile(std::string_view path) {
  if (snx::platform::Files().Delete(path)) return true;
  std::string warning = "Warning: Unable to delete file at ";
  warning.append(path);
  warning.append("\r\n It may already be open in another process.");
  Warn(warning);
  return false;
}

bool CQorFileOps::CopyFile(std::string_view source, std::string_view target) {
  if (!FileExists(source)) return false;
  if (snx::platform::Files().Copy(source, target)) return true;
  CQorStr trimmed(target);
  trimmed.Trim();
  std::string warning = "Warning: did not copy to target path: ";
  warning.append(trimmed.View());
  warning.append("\r\n Target path may already be in use.");
  Warn(warning);
  return false;
}

std::int64_t CQorFileOps::FileSizeOf(std::string_view path) {
  const auto size = snx::platform::Files().Size(path);
  if (!size) {
    std::string line = "Problem: CQorFileOps::FileSizeOf() cannot open ";
    line.append(path);
    LogError(line);
    return -1;
  }
  return *size;
}

const char* CQorFileOps::ModulePath(std::string_view module_name) {
  auto& files = snx::platform::Files();
  std::optional<std::string> path;
  if (!module_name.empty()) path = files.LoadedModulePath(module_name);
  m_sModulePath.Assign(std::string_view(path ? *path : files.ExecutablePath()));
  return m_sModulePath.GetBuffer();
}

const char* CQorFileOps::DirectoryOf(std::string_view path) {
  const auto at = LastSeparator(path);
  if (at == std::string_view::npos) {
    m_sDirectory.Assign("\\");
    return m_sDirectory.GetBuffer();
  }
  m_sDirectory.Assign(path.substr(0, at + 1));
  m_sDirectory.Trim();
  const std::string_view dir = m_sDirectory.View();
  if (dir.empty() || !snx::platform::IsPathSeparator(dir.back())) m_sDirectory.Append('\\');
  return m_sDirectory.GetBuffer();
}

const char* CQorFileOps::FileNameOf(std::string_view path) {
  const auto at = LastSeparator(path);
  m_sFileName.Assign(at == std::string_view::npos ? path : path.substr(at + 1));
  m_sFileName.Trim();
  return m_sFileName.GetBuffer();
}

void CQorFileOps::SplitName(std::string_view name, CQorStr& base, CQorStr& rest) {
  if (name.empty()) return;
  const auto dot = name.find('.');
  if (dot == std::string_view::npos) {
    base.Assign(name);
    rest.Assign("");
    return;
  }
  base.Assign(name.substr(0, dot));
  rest.Assign(name.substr(dot + 1));
}

bool CQorFileOps::DirectoryExists(std::string_view path) {
  return !path.empty() && snx::platform::Files().FolderExists(path);
}

#include "recovery/ini_file.h"

#include <string>

#include "core/log_writer.h"
#include "platform/file_system.h"
#include "platform/file_trust.h"

bool CIniFile::Initialize(std::string_view path) {
  Assign(path);
  m_bInitialized = CTxtFile4::Initialize(kLineBufferSize);
  if (!m_bInitialized) LogError("CIniFile::Initialize() failed.");
  return m_bInitialized;
}

std::string CIniFile::Refusal() {
  std::string why = snx::platform::UntrustedFileReason(View());
  if (why.empty()) {
    const auto size = snx::platform::Files().Size(View());
    if (size && *size > kMaxFileBytes) {
      why = "is larger than " + std::to_string(kMaxFileBytes) + " bytes";
    }
  }
  return why;
}

bool CIniFile::GetFirstKeyAndValue() {
  m_sKey.Clear();
  m_sValue.Clear();
  m_bFailed = false;
  m_iLineNumber = 0;
  if (IsOpen()) Close();
  const std::string why = Refusal();
  if (!why.empty()) {
    LogError("Error: the restart program " + ToString() + " " + why + ": it is not read.");
  }
  if (!why.empty() || !OpenForReadOnly(View())) {
    LogError("CIniFile::GetFirstKeyAndValue() cannot open INI file.");
    return false;
  }
  return ReadKeyAndValue();
}

bool CIniFile::GetNextKeyAndValue() {
  m_sKey.Clear();
  m_sValue.Clear();
  if (!IsOpen()) {
    LogError("CIniFile::GetNextKeyAndValue() finds INI file is not open.");
    return false;
  }
  return ReadKeyAndValue();
}

bool CIniFile::ReadKeyAndValue() {
  while (true) {
    const bool read = ReadTextLine();
    if (ReadFailed()) {
      m_bFailed = true;
      LogError("CIniFile: line " + std::to_string(m_iLineNumber + 1) + " of " + ToString() +
               " cannot be read whole (longer than " + std::to_string(kLineBufferSize) +
               " characters?).");
      Close();
      return false;
    }
    // The last line of a file without a line end stands in the buffer even when the read
    // reports the end.
    const std::string_view text(Line());
    if (!read && text.empty()) {
      Close();
      return false;
    }
    ++m_iLineNumber;
    const auto comment = text.find("##");
    m_sLine.Assign(comment == std::string_view::npos ? text : text.substr(0, comment));
    const int equals = m_sLine.Find("=", true);
    if (equals >= 0) {
      m_sKey.Assign(m_sLine.Left(equals));
      m_sValue.Assign(m_sLine.Mid(equals + 1));
      m_sKey.Trim();
      m_sValue.Trim();
      return true;
    }
    if (!read) {
      Close();
      return false;
    }
  }
}

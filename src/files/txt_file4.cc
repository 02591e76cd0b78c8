#include "files/txt_file4.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/log_writer.h"
#include "platform/debug_sink.h"

CTxtFile4::~CTxtFile4() { Close(); }

void CTxtFile4::Report(std::string_view text) {
  if (m_bQuiet) {
    snx::platform::DebugOutput(text);
  } else {
    LogError(text);
  }
}

bool CTxtFile4::Initialize(int line_buffer_size) {
  m_iLineBufferSize = line_buffer_size;
  if (line_buffer_size <= 0) {
    Report("CTxtFile4::Initialize found ZERO line buffer param.");
    m_iLineBufferSize = 0;
  }
  m_pLine.reset(new (std::nothrow) char[m_iLineBufferSize + 1]);
  if (!m_pLine) {
    m_bInitialized = false;
    Report("CTxtFile4::Initialize is out of RAM for LineBuffer");
    return false;
  }
  std::memset(m_pLine.get(), 0, m_iLineBufferSize + 1);
  m_bInitialized = true;
  return true;
}

bool CTxtFile4::IsInitialized() {
  if (!m_bInitialized || !m_pLine) {
    Report("CTxtFile4 object is not properly initialized.");
    return false;
  }
  return true;
}

bool CTxtFile4::OpenStream(std::string_view path, std::string_view mode, std::string_view failure) {
  if (!IsInitialized()) return false;
  m_pFile.reset();  // forget any earlier stream
  m_bOpen = false;
  m_sPath.assign(path);
  m_sMode.assign(mode);
  m_pFile = snx::platform::Files().Open(path, mode);
  if (!m_pFile) {
    if (!failure.empty()) Report(failure);
    return false;
  }
  m_bOpen = true;
  return true;
}

bool CTxtFile4::OpenForReadOnly(std::string_view path) {
  return OpenStream(path, "rb", "CTxtFile4::OpenForReadOnly cannot find its file.");
}

bool CTxtFile4::TryOpenForReadOnly(std::string_view path) { return OpenStream(path, "rb", ""); }

bool CTxtFile4::OpenForReadWrite(std::string_view path) {
  return OpenStream(path, "r+b", "CTxtFile4::OpenForReadWrite cannot open its file.");
}

bool CTxtFile4::ReOpenForReadAppend(std::string_view path) {
  return OpenStream(path, "a+b", "CTxtFile4::ReOpenForReadAppend cannot open its file.");
}

bool CTxtFile4::Create(std::string_view path) {
  const bool created = OpenStream(path, "w+b", "CTxtFile4::Create cannot create its file.");
  m_bOpen = false;
  return created;
}

bool CTxtFile4::Delete(std::string_view path) {
  if (snx::platform::Files().Delete(path)) return true;
  Report("CTxtFile4::Delete cannot delete its file.");
  return false;
}

bool CTxtFile4::ReadCharForward() {
  if (!m_pFile) return false;
  switch (m_pFile->ReadChar(m_cCurrent)) {
    case snx::platform::ReadResult::kOk:
      return true;
    case snx::platform::ReadResult::kEnd:
      m_bEndOfFile = true;
      return false;
    case snx::platform::ReadResult::kError:
      break;
  }
  m_bReadError = true;
  Report("CTxtFile4::ReadCharForward cannot read a char.");
  return false;
}

bool CTxtFile4::ReadTextLine() {
  m_bEndOfFile = false;
  m_bReadError = false;
  if (m_pLine) m_pLine[0] = '\0';
  if (!m_bInitialized || !m_pLine) return false;
  if (!m_pFile) {
    Report("CTxtFile4::ReadTextLine called but file is not open.");
    return false;
  }
  m_iIndex = -1;
  m_bCrSeen = false;
  m_bLfSeen = false;
  m_bEndOfLine = false;
  // A line ends at CR LF, at LF CR, or at a lone LF, as administrators write files on this
  // platform. Carriage returns are never part of a line.
  while (ReadCharForward()) {
    const char c = m_cCurrent;
    if (c == '\r') {
      m_bCrSeen = true;
      continue;
    }
    if (c == '\n') {
      m_bLfSeen = true;
      m_bEndOfLine = true;
    }
    ++m_iIndex;
    if (m_bEndOfLine) {
      m_pLine[m_iIndex] = '\0';
      break;
    }
    if (m_iIndex >= m_iLineBufferSize) {
      Report("CTxtFile4::ReadTextLine has buffer overflow.");
      m_bReadError = true;
      m_pLine[m_iLineBufferSize] = '\0';
      break;
    }
    m_pLine[m_iIndex] = c;
  }
  if (!m_bEndOfFile) return !m_bReadError;
  // Stopped at the end of the file: the last line stands as far as it got.
  m_pLine[m_iIndex + 1] = '\0';
  return !m_bReadError && std::strlen(m_pLine.get()) >= 2;
}

bool CTxtFile4::WriteLine(std::string_view text) {
  if (!m_pFile) return false;
  const bool wrote_text = m_pFile->Write(text);
  const bool wrote_end = m_pFile->Write("\r\n");
  return wrote_text && wrote_end;
}

bool CTxtFile4::Close() {
  if (!m_pFile) return true;
  if (!m_pFile->Flush()) snx::platform::DebugOutput("CTxtFile4::Close() flush failed");
  if (!m_pFile->Close()) {
    snx::platform::DebugOutput("CTxtFile4::Close() failed");
    return false;
  }
  m_pFile.reset();
  m_bOpen = false;
  return true;
}

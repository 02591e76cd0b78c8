#include "core/array_str.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/log_writer.h"

CArrayStr::~CArrayStr() { m_iHighest = -1; }

bool CArrayStr::Initialize(int iSize, int iStrLen) {
  m_bInitialized = false;
  m_iHighest = -1;
  SetState(1002);
  if (iStrLen <= 0) {
    LogError("Problem: CArrayStr::Initialize recieved iStrLen <= 0.");
    LogError("CArrayStr::Initialize() failed.");
    return false;
  }
  m_iWidth = iStrLen < 31 ? iStrLen + 1 : iStrLen;
  if (iSize <= 0) {
    LogError("Problem: CArrayStr::Initialize recieved iSize <= 0.");
    LogError("CArrayStr::Initialize() failed.");
    return false;
  }
  m_pStorage.reset();
  const auto bytes = static_cast<std::size_t>(iSize) * static_cast<std::size_t>(m_iWidth);
  m_pStorage.reset(new (std::nothrow) char[bytes]);
  if (!m_pStorage) {
    LogError("CArrayStr::Initialize is out of RAM.");
    return false;
  }
  m_iSize = iSize;
  m_bInitialized = true;
  Clear();
  return true;
}

bool CArrayStr::IsLive() {
  if (!m_bInitialized) {
    LogError("CArrayStr::IsLive() Object is not initialized.");
    return false;
  }
  return CQorObject::IsLive();
}

void CArrayStr::Clear() {
  if (!IsLive()) return;
  std::memset(m_pStorage.get(), 0, static_cast<std::size_t>(m_iSize) * m_iWidth);
  m_iHighest = -1;
  m_iPosition = -1;
}

const char* CArrayStr::GetAt(int index) {
  if (!IsLive() || index < 0 || index >= m_iSize) {
    m_iCurrent = -1;
    return nullptr;
  }
  m_iCurrent = index;
  return m_pStorage.get() + static_cast<std::size_t>(index) * m_iWidth;
}

bool CArrayStr::SetAt(int index, std::string_view text) {
  if (!IsLive() || index < 0 || index >= m_iSize) return false;
  char* slot = m_pStorage.get() + static_cast<std::size_t>(index) * m_iWidth;
  const auto nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  const std::size_t n = std::min<std::size_t>(text.size(), m_iWidth - 1);
  std::memcpy(slot, text.data(), n);
  slot[n] = '\0';
  m_iCurrent = index;
  m_iHighest = std::max(m_iHighest, index);
  return true;
}

bool CArrayStr::RePosition(int iNdx) {
  if (iNdx < -1) {
    LogError("CArrayStr::RePosition() has NEGATIVE iNdx.");
    return false;
  }
  if (iNdx >= m_iSize) {
    LogError("CArrayStr::RePosition() has overflow iNdx.");
    return false;
  }
  m_iPosition = iNdx;
  m_iCurrent = iNdx;
  return true;
}

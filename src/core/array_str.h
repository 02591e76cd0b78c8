#pragma once
// CArrayStr: a fixed array of fixed-width text slots in one block of memory.

#include <cstdint>
#include <memory>

#include "core/qor_object.h"

class CArrayStr : public CQorObject {
 public:
  CArrayStr() = default;
  CArrayStr(const CArrayStr&) = delete;
  CArrayStr& operator=(const CArrayStr&) = delete;
  ~CArrayStr() override;

  // iSize slots of iStrLen characters; slots narrower than 31 bytes get one byte more for the
  // terminator, so a slot keeps Width() - 1 characters.
  bool Initialize(int iSize, int iStrLen);
  bool IsLive() override;
  void Clear();
  const char* GetAt(int index);
  bool SetAt(int index, std::string_view text);
  bool RePosition(int iNdx);
  int Count() const { return m_iHighest + 1; }

  int Size() const { return m_iSize; }
  int Width() const { return m_iWidth; }
  int Current() const { return m_iCurrent; }
  int Position() const { return m_iPosition; }

 private:
  std::unique_ptr<char[]> m_pStorage;
  std::int32_t m_iSize = 0;
  [[maybe_unused]] std::int32_t m_iMode = 1;
  std::int32_t m_iWidth = 0;
  std::int32_t m_iCurrent = -1;
  bool m_bInitialized = false;
  std::int32_t m_iHighest = -1;
  std::int32_t m_iPosition = -1;
};

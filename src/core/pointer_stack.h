#pragma once
// CPointerStack: a bounded stack of untyped pointers, iterated from the bottom. It never owns
// what its entries point to. Its bound is set by Initialize; the array grows with the entries up
// to it, so a stack of a few entries holds memory for a few.

#include <cstdint>
#include <vector>

#include "core/qor_object.h"

class CPointerStack : public CQorObject {
 public:
  static constexpr int kDefaultSize = 4096;

  CPointerStack() = default;
  CPointerStack(const CPointerStack&) = delete;
  CPointerStack& operator=(const CPointerStack&) = delete;
  ~CPointerStack() override;

  bool Initialize(int size);
  bool Push(void* pointer);
  void* Pop();
  int Count();
  void* GetAt(int index) const;
  void* GetFirst();
  void* GetNext();
  int IterationIndex() const { return m_iIteration; }
  int Size() const { return m_iSize; }
  void* Last() const { return m_pLast; }

 private:
  bool EnsureInitialized();

  std::int32_t m_iSize = 0;
  void* m_pLast = nullptr;
  std::vector<void*> m_Entries;
  std::int32_t m_iCount = 0;
  std::int32_t m_iTop = -1;
  bool m_bInitialized = false;
  std::int32_t m_iIteration = 0;
};

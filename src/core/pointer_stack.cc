#include "core/pointer_stack.h"

#include <algorithm>
#include <new>

#include "core/log_writer.h"

CPointerStack::~CPointerStack() = default;

bool CPointerStack::Initialize(int size) {
  std::vector<void*>().swap(m_Entries);
  m_bInitialized = false;
  m_iTop = -1;
  m_iCount = 0;
  m_iSize = 0;
  if (size < 1) {
    LogError("CPointerStack::Initialize() got zero SIZE passed in.");
    return false;
  }
  m_iSize = size;
  m_bInitialized = true;
  return true;
}

bool CPointerStack::EnsureInitialized() { return m_bInitialized || Initialize(kDefaultSize); }

bool CPointerStack::Push(void* pointer) {
  if (!EnsureInitialized()) {
    LogError("CPointerStack::Push() default Initialize failed.");
    return false;
  }
  if (m_iTop + 1 >= m_iSize) {
    LogError("CPointerStack::Push() cannot. Stack limit reached.");
    return false;
  }
  try {
    if (m_Entries.size() == m_Entries.capacity()) {
      m_Entries.reserve(std::min<std::size_t>(std::max<std::size_t>(m_Entries.size() * 2, 16),
                                              static_cast<std::size_t>(m_iSize)));
    }
    m_Entries.push_back(pointer);
  } catch (const std::bad_alloc&) {
    LogError("CPointerStack::Push() is out of RAM memory.");
    return false;
  }
  ++m_iTop;
  m_iCount = m_iTop + 1;
  m_pLast = pointer;
  return true;
}

void* CPointerStack::Pop() {
  if (!EnsureInitialized() || m_iTop < 0) return nullptr;
  m_pLast = m_Entries.back();
  m_Entries.pop_back();
  --m_iTop;
  m_iCount = m_iTop + 1;
  return m_pLast;
}

int CPointerStack::Count() {
  EnsureInitialized();
  return m_iTop + 1;
}

void* CPointerStack::GetAt(int index) const {
  if (!m_bInitialized || index < 0 || index > m_iTop) return nullptr;
  return m_Entries[static_cast<std::size_t>(index)];
}

void* CPointerStack::GetFirst() {
  m_iIteration = 0;
  return GetAt(0);
}

void* CPointerStack::GetNext() {
  ++m_iIteration;
  return GetAt(m_iIteration);
}

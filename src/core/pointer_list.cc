#include "core/pointer_list.h"

#include <new>
#include <utility>

#include "core/log_writer.h"

CPointerList::~CPointerList() { RemoveAll(); }

bool CPointerList::AppendLink(void* data) {
  Node* node = new (std::nothrow) Node;
  if (node == nullptr) {
    LogError("CPointerList::AppendLink is out of memory");
    return false;
  }
  node->marker = kInList;
  node->data = data;
  node->previous = m_pTail;
  if (m_pTail != nullptr) {
    m_pTail->next = node;
  } else {
    m_pHead = node;
  }
  m_pTail = node;
  if (m_iCount < 0) m_iCount = 0;
  ++m_iCount;
  m_pCurrent = node;
  m_pCurrentData = data;
  return true;
}

bool CPointerList::InsertLink(void* data) {
  if (m_pHead == nullptr || m_bAtEnd) return AppendLink(data);
  return LinkBefore(m_pCurrent != nullptr ? m_pCurrent : m_pTail, data);
}

bool CPointerList::LinkBefore(Node* before, void* data) {
  Node* node = new (std::nothrow) Node;
  if (node == nullptr) {
    LogError("CPointerList::InsertLink is out of memory");
    return false;
  }
  node->marker = kInList;
  node->data = data;
  node->next = before;
  node->previous = before->previous;
  if (before->previous != nullptr) {
    before->previous->next = node;
  } else {
    m_pHead = node;
  }
  before->previous = node;
  ++m_iCount;
  m_pCurrent = node;
  m_pCurrentData = data;
  return true;
}

void* CPointerList::GetFirst() {
  m_pCurrent = m_pHead;
  m_bAtEnd = (m_pHead == nullptr);
  m_pCurrentData = m_pCurrent != nullptr ? m_pCurrent->data : nullptr;
  return m_pCurrentData;
}

void* CPointerList::GetNext() {
  if (m_pCurrent != nullptr && m_pCurrent->next != nullptr) {
    m_pCurrent = m_pCurrent->next;
    m_bAtEnd = false;
    m_pCurrentData = m_pCurrent->data;
    return m_pCurrentData;
  }
  m_bAtEnd = true;
  return nullptr;
}

bool CPointerList::RemoveLink(Node* node, bool bFree) {
  if (node == nullptr) return true;
  // A node removed before is no longer linked: it must not touch the list or its count.
  if (node->marker != kInList) {
    if (bFree) delete node;
    return true;
  }
  if (node->previous != nullptr) node->previous->next = node->next;
  if (node->next != nullptr) node->next->previous = node->previous;
  if (m_pHead == node) m_pHead = node->next;
  if (m_pTail == node) m_pTail = node->previous;
  if (m_pCurrent == node) {
    m_pCurrent = node->previous != nullptr ? node->previous : node->next;
    m_pCurrentData = m_pCurrent != nullptr ? m_pCurrent->data : nullptr;
  }
  node->marker = 0;
  node->next = nullptr;
  node->previous = nullptr;
  if (bFree) delete node;
  if (m_iCount > 0) --m_iCount;
  return true;
}

bool CPointerList::RemoveTail() {
  if (m_pTail == nullptr) return false;
  return RemoveLink(m_pTail, true);
}

bool CPointerList::RemoveAll() {
  const bool had_nodes = m_pTail != nullptr;
  while (m_pTail != nullptr) RemoveLink(m_pTail, true);
  m_iCount = 0;
  m_pCurrent = nullptr;
  m_pCurrentData = nullptr;
  m_bAtEnd = false;
  return had_nodes;
}

void CPointerList::Swap(CPointerList& other) noexcept {
  std::swap(m_iCount, other.m_iCount);
  std::swap(m_pCurrentData, other.m_pCurrentData);
  std::swap(m_pHead, other.m_pHead);
  std::swap(m_pCurrent, other.m_pCurrent);
  std::swap(m_pTail, other.m_pTail);
  std::swap(m_bAtEnd, other.m_bAtEnd);
}

#pragma once
// CPointerList: a doubly linked list of untyped pointers with a cursor. It never owns what its
// pointers point to; it owns only its nodes.

#include <cstdint>

#include "core/qor_object.h"

class CPointerList : public CQorObject {
 public:
  struct Node {
    std::int32_t marker = 0;  // kInList while the node is linked, 0 after removal
    void* data = nullptr;
    Node* next = nullptr;
    Node* previous = nullptr;
  };
  static constexpr std::int32_t kInList = 100001;

  CPointerList() = default;
  CPointerList(const CPointerList&) = delete;
  CPointerList& operator=(const CPointerList&) = delete;
  ~CPointerList() override;

  // A new node after the tail; it becomes the cursor.
  bool AppendLink(void* data);
  // A new node in front of the cursor (in front of the tail without a cursor), unless the list
  // is empty or the last walk ran off its end: then the same as AppendLink.
  bool InsertLink(void* data);
  void* GetFirst();
  void* GetNext();
  // Unlinks the node; the cursor moves to the previous node (or the next when there is none).
  bool RemoveLink(Node* node, bool bFree);
  bool RemoveTail();
  bool RemoveAll();
  // Exchanges the whole contents (nodes, count and cursor) with `other`; nothing is allocated.
  void Swap(CPointerList& other) noexcept;

  int Count() const { return m_iCount < 0 ? 0 : m_iCount; }
  Node* Head() const { return m_pHead; }
  Node* Tail() const { return m_pTail; }
  Node* CurrentLink() const { return m_pCurrent; }
  void* CurrentData() const { return m_pCurrentData; }
  bool AtEnd() const { return m_bAtEnd; }

 private:
  bool LinkBefore(Node* before, void* data);

  std::int32_t m_iCount = -1;
  void* m_pCurrentData = nullptr;
  Node* m_pHead = nullptr;
  Node* m_pCurrent = nullptr;
  Node* m_pTail = nullptr;
  bool m_bAtEnd = false;
};

#include <gtest/gtest.h>

#include <vector>

#include "core/pointer_list.h"
#include "core/pointer_stack.h"
#include "support/test_support.h"

namespace {

int g_items[8] = {0, 1, 2, 3, 4, 5, 6, 7};
void* Item(int i) { return &g_items[i]; }

// The items of the list from head to tail, and checked against the walk from tail to head, so
// that a broken back link shows as well.
std::vector<int> Items(const CPointerList& list) {
  std::vector<int> forward;
  for (auto* n = list.Head(); n != nullptr; n = n->next) {
    forward.push_back(static_cast<int*>(n->data) - g_items);
  }
  std::vector<int> backward;
  for (auto* n = list.Tail(); n != nullptr; n = n->previous) {
    backward.insert(backward.begin(), static_cast<int*>(n->data) - g_items);
  }
  EXPECT_EQ(forward, backward) << "forward and backward links disagree";
  EXPECT_EQ(static_cast<int>(forward.size()), list.Count());
  return forward;
}

TEST(PointerListTest, OnAnEmptyListEveryInsertAppends) {
  CPointerList list;
  EXPECT_EQ(list.GetFirst(), nullptr);
  EXPECT_TRUE(list.AtEnd());
  ASSERT_TRUE(list.InsertLink(Item(1)));
  EXPECT_EQ(list.Head(), list.Tail());
  for (int i = 2; i <= 3; ++i) ASSERT_TRUE(list.InsertLink(Item(i)));
  EXPECT_EQ(Items(list), (std::vector<int>{1, 2, 3}));
}

TEST(PointerListTest, InsertGoesInFrontOfTheCursorAndBecomesTheCursor) {
  CPointerList list;
  for (int i : {1, 2, 4}) list.AppendLink(Item(i));
  list.GetFirst();
  list.GetNext();
  list.GetNext();  // cursor on 4
  ASSERT_TRUE(list.InsertLink(Item(3)));
  EXPECT_EQ(list.CurrentData(), Item(3));
  list.GetFirst();  // cursor on the head: the new node becomes the head
  ASSERT_TRUE(list.InsertLink(Item(0)));
  EXPECT_EQ(list.Head()->data, Item(0));
  EXPECT_EQ(Items(list), (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(PointerListTest, WalkOffTheEndKeepsTheCursorAndTheNextInsertAppends) {
  CPointerList list;
  for (int i : {1, 2}) list.AppendLink(Item(i));
  EXPECT_EQ(list.GetFirst(), Item(1));
  EXPECT_EQ(list.GetNext(), Item(2));
  EXPECT_FALSE(list.AtEnd());
  EXPECT_EQ(list.GetNext(), nullptr);
  EXPECT_TRUE(list.AtEnd());
  EXPECT_EQ(list.CurrentLink(), list.Tail());
  ASSERT_TRUE(list.InsertLink(Item(3)));
  EXPECT_EQ(Items(list), (std::vector<int>{1, 2, 3}));
}

TEST(PointerListTest, RemoveMovesHeadTailAndCursorOffTheNode) {
  struct Case {
    const char* name;
    int remove;        // index of the node to remove
    int cursor;        // index of the cursor before
    int cursor_after;  // item under the cursor afterwards, -1 for none
  };
  const Case cases[] = {
      {"cursor node goes to its previous", 2, 2, 1},
      {"cursor on the head goes to the next", 0, 0, 1},
      {"other node leaves the cursor", 1, 2, 2},
      {"tail", 2, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CPointerList list;
    std::vector<CPointerList::Node*> nodes;
    for (int i = 0; i < 3; ++i) {
      list.AppendLink(Item(i));
      nodes.push_back(list.Tail());
    }
    list.GetFirst();
    for (int i = 0; i < c.cursor; ++i) list.GetNext();
    ASSERT_TRUE(list.RemoveLink(nodes[c.remove], true));
    std::vector<int> expected = {0, 1, 2};
    expected.erase(expected.begin() + c.remove);
    EXPECT_EQ(Items(list), expected);
    EXPECT_EQ(list.CurrentData(), c.cursor_after < 0 ? nullptr : Item(c.cursor_after));
  }
}

TEST(PointerListTest, RemovingTheOnlyNodeEmptiesTheList) {
  CPointerList list;
  list.AppendLink(Item(1));
  ASSERT_TRUE(list.RemoveLink(list.Head(), true));
  EXPECT_EQ(list.Head(), nullptr);
  EXPECT_EQ(list.Tail(), nullptr);
  EXPECT_EQ(list.CurrentLink(), nullptr);
  EXPECT_EQ(list.Count(), 0);
  // An empty list takes new nodes again.
  ASSERT_TRUE(list.InsertLink(Item(2)));
  EXPECT_EQ(Items(list), (std::vector<int>{2}));
}

TEST(PointerListTest, RemovingANodeTwiceLeavesTheListAndItsCountAlone) {
  CPointerList list;
  for (int i = 0; i < 3; ++i) list.AppendLink(Item(i));
  CPointerList::Node* middle = list.Head()->next;
  ASSERT_TRUE(list.RemoveLink(middle, false));
  EXPECT_EQ(middle->marker, 0);
  EXPECT_TRUE(list.RemoveLink(middle, true));  // not linked any more: frees it, nothing else
  EXPECT_EQ(Items(list), (std::vector<int>{0, 2}));
}

TEST(PointerListTest, RemoveAllEmptiesTheListOnce) {
  CPointerList list;
  for (int i = 0; i < 3; ++i) list.AppendLink(Item(i));
  EXPECT_TRUE(list.RemoveTail());
  EXPECT_TRUE(list.RemoveAll());
  EXPECT_FALSE(list.RemoveAll());
  EXPECT_EQ(Items(list), std::vector<int>{});
}

TEST(PointerStackTest, SizeTwoTakesTwoPushesAndRefusesTheThird) {
  snx::test::CapturingLog log;
  CPointerStack stack;
  ASSERT_TRUE(stack.Initialize(2));
  EXPECT_TRUE(stack.Push(Item(1)));
  EXPECT_TRUE(stack.Push(Item(2)));
  EXPECT_FALSE(stack.Push(Item(3)));
  EXPECT_TRUE(log.HasError("CPointerStack::Push() cannot. Stack limit reached."));
  EXPECT_EQ(stack.Count(), 2);
  EXPECT_EQ(stack.Pop(), Item(2));
  EXPECT_EQ(stack.Last(), Item(2));
  EXPECT_EQ(stack.Pop(), Item(1));
}

TEST(PointerStackTest, AFreshStackPopsNullAndSetsItselfUpOnTheFirstPush) {
  CPointerStack stack;
  EXPECT_EQ(stack.Pop(), nullptr);
  EXPECT_EQ(stack.Count(), 0);
  ASSERT_TRUE(stack.Push(Item(1)));
  EXPECT_EQ(stack.Size(), CPointerStack::kDefaultSize);
  for (int i = 1; i < CPointerStack::kDefaultSize; ++i) ASSERT_TRUE(stack.Push(Item(i % 8)));
  EXPECT_FALSE(stack.Push(Item(0)));
}

TEST(PointerStackTest, InitializeRefusesSizesBelowOneAndDropsEarlierEntries) {
  snx::test::CapturingLog log;
  CPointerStack stack;
  stack.Push(Item(1));
  EXPECT_FALSE(stack.Initialize(0));
  EXPECT_TRUE(log.HasError("CPointerStack::Initialize() got zero SIZE passed in."));
  EXPECT_EQ(stack.GetAt(0), nullptr);
  ASSERT_TRUE(stack.Initialize(3));
  EXPECT_EQ(stack.Count(), 0);
}

TEST(PointerStackTest, IterationRunsFromTheBottomAndGetAtStaysInRange) {
  CPointerStack stack;
  for (int i : {1, 2, 3}) stack.Push(Item(i));
  std::vector<void*> seen;
  for (void* p = stack.GetFirst(); p != nullptr; p = stack.GetNext()) seen.push_back(p);
  EXPECT_EQ(seen, (std::vector<void*>{Item(1), Item(2), Item(3)}));
  EXPECT_EQ(stack.GetAt(-1), nullptr);
  stack.Pop();
  EXPECT_EQ(stack.GetAt(2), nullptr) << "a popped entry must not be reachable";
}

}  // namespace

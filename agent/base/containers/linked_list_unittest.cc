#include "agent/base/containers/linked_list.h"

#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

class Item : public LinkedListNode<Item> {
 public:
  explicit Item(int id) : id_(id) {}
  int id() const { return id_; }

 private:
  int id_;
};

std::vector<int> Forward(const LinkedList<Item>& list) {
  std::vector<int> ids;
  for (const LinkedListNode<Item>* node = list.head(); node != list.end();
       node = node->next()) {
    ids.push_back(node->value()->id());
  }
  return ids;
}

std::vector<int> Backward(const LinkedList<Item>& list) {
  std::vector<int> ids;
  for (const LinkedListNode<Item>* node = list.tail(); node != list.end();
       node = node->previous()) {
    ids.push_back(node->value()->id());
  }
  return ids;
}

TEST(LinkedListTest, EmptyListSentinelPointsAtItself) {
  LinkedList<Item> list;
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.end(), list.head());
  EXPECT_EQ(list.end(), list.tail());
}

TEST(LinkedListTest, AppendAndWalkBothWays) {
  LinkedList<Item> list;
  Item a(1), b(2), c(3);
  list.Append(&a);
  list.Append(&b);
  list.Append(&c);
  EXPECT_FALSE(list.empty());
  EXPECT_EQ((std::vector<int>{1, 2, 3}), Forward(list));
  EXPECT_EQ((std::vector<int>{3, 2, 1}), Backward(list));
  EXPECT_EQ(&a, list.head()->value());
  EXPECT_EQ(&c, list.tail()->value());
}

TEST(LinkedListTest, InsertBeforeAnElement) {
  LinkedList<Item> list;
  Item a(1), b(2), c(3);
  list.Append(&a);
  list.Append(&c);
  b.InsertBefore(&c);
  EXPECT_EQ((std::vector<int>{1, 2, 3}), Forward(list));
  EXPECT_EQ((std::vector<int>{3, 2, 1}), Backward(list));
}

TEST(LinkedListTest, RemoveLeavesBothLinksNull) {
  LinkedList<Item> list;
  Item a(1), b(2), c(3);
  EXPECT_EQ(nullptr, a.previous());
  EXPECT_EQ(nullptr, a.next());
  list.Append(&a);
  list.Append(&b);
  list.Append(&c);

  b.RemoveFromList();
  EXPECT_EQ(nullptr, b.previous());
  EXPECT_EQ(nullptr, b.next());
  EXPECT_EQ((std::vector<int>{1, 3}), Forward(list));
  EXPECT_EQ((std::vector<int>{3, 1}), Backward(list));

  a.RemoveFromList();
  c.RemoveFromList();
  EXPECT_TRUE(list.empty());

  // A removed node can join again.
  list.Append(&b);
  EXPECT_EQ((std::vector<int>{2}), Forward(list));
}

TEST(LinkedListDeathTest, InsertingALinkedNodeIsFatal) {
  LinkedList<Item> list;
  Item a(1), b(2);
  list.Append(&a);
  list.Append(&b);
  EXPECT_DEATH(list.Append(&a), "Check failed: previous_ == nullptr \\(0x");
  EXPECT_DEATH(a.InsertBefore(&b), "Check failed: previous_ == nullptr");
}

TEST(LinkedListDeathTest, InsertingANodeWithOnlyANextLinkIsFatal) {
  // Sentinel-style nodes carry links from construction.
  LinkedListNode<Item> target(&target, &target);
  LinkedListNode<Item> odd(nullptr, &target);
  EXPECT_DEATH(odd.InsertBefore(&target), "Check failed: next_ == nullptr");
}

}  // namespace
}  // namespace kelmbase

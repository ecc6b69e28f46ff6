#ifndef AGENT_BASE_CONTAINERS_LINKED_LIST_H_
#define AGENT_BASE_CONTAINERS_LINKED_LIST_H_

#include "logging/check.h"

namespace kelmbase {

// An intrusive, circular, doubly linked list. Elements derive from
// LinkedListNode<T> and are owned elsewhere: the list never allocates,
// frees or destroys them, and destroying an element or the list does not
// unlink anything, so owners remove nodes before they go.
//
//   class Task : public kelmbase::LinkedListNode<Task> { ... };
//   kelmbase::LinkedList<Task> list;
//   list.Append(&task);
//   for (LinkedListNode<Task>* node = list.head(); node != list.end();
//        node = node->next()) {
//     node->value()->Run();
//   }
//
// Not synchronised: owners lock around it.
template <typename T>
class LinkedListNode {
 public:
  // A node in no list: both links null.
  LinkedListNode() = default;
  // The sentinel of a list, linked to itself.
  LinkedListNode(LinkedListNode* previous, LinkedListNode* next)
      : previous_(previous), next_(next) {}
  LinkedListNode(const LinkedListNode&) = delete;
  LinkedListNode& operator=(const LinkedListNode&) = delete;

  // Links this node in just before `e`. Fatal when this node is already in
  // a list.
  void InsertBefore(LinkedListNode* e) {
    CHECK_EQ(previous_, nullptr);
    CHECK_EQ(next_, nullptr);
    next_ = e;
    previous_ = e->previous_;
    e->previous_->next_ = this;
    e->previous_ = this;
  }

  // Unlinks this node from its list; both links become null.
  void RemoveFromList() {
    previous_->next_ = next_;
    next_->previous_ = previous_;
    previous_ = nullptr;
    next_ = nullptr;
  }

  LinkedListNode* previous() const { return previous_; }
  LinkedListNode* next() const { return next_; }

  // The element this node is part of (not for a list's sentinel).
  T* value() { return static_cast<T*>(this); }
  const T* value() const { return static_cast<const T*>(this); }

 private:
  LinkedListNode* previous_ = nullptr;
  LinkedListNode* next_ = nullptr;
};

template <typename T>
class LinkedList {
 public:
  // An empty list: the sentinel links to itself.
  LinkedList() : root_(&root_, &root_) {}
  LinkedList(const LinkedList&) = delete;
  LinkedList& operator=(const LinkedList&) = delete;

  // Adds `e` at the end: inserts it before the sentinel.
  void Append(LinkedListNode<T>* e) { e->InsertBefore(&root_); }

  // The first and last nodes; both are end() when the list is empty.
  LinkedListNode<T>* head() const { return root_.next(); }
  LinkedListNode<T>* tail() const { return root_.previous(); }

  // The sentinel, which ends a walk in either direction.
  const LinkedListNode<T>* end() const { return &root_; }

  bool empty() const { return head() == end(); }

 private:
  LinkedListNode<T> root_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_CONTAINERS_LINKED_LIST_H_

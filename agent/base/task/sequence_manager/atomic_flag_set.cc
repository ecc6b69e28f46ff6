#include "agent/base/task/sequence_manager/atomic_flag_set.h"

#include <bit>
#include <utility>

#include "logging/check.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

AtomicFlagSet::Group::Group() = default;
AtomicFlagSet::Group::~Group() = default;

AtomicFlagSet::AtomicFlag::AtomicFlag() = default;

AtomicFlagSet::AtomicFlag::AtomicFlag(AtomicFlagSet* outer, Group* group,
                                      uint64_t flag_bit)
    : outer_(outer), group_(group), flag_bit_(flag_bit) {}

AtomicFlagSet::AtomicFlag::AtomicFlag(AtomicFlag&& other)
    : outer_(other.outer_), group_(other.group_), flag_bit_(other.flag_bit_) {
  other.outer_ = nullptr;
  other.group_ = nullptr;
  other.flag_bit_ = 0;
}

AtomicFlagSet::AtomicFlag& AtomicFlagSet::AtomicFlag::operator=(
    AtomicFlag&& other) {
  if (this == &other) return *this;
  ReleaseAtomicFlag();
  outer_ = other.outer_;
  group_ = other.group_;
  flag_bit_ = other.flag_bit_;
  other.outer_ = nullptr;
  other.group_ = nullptr;
  other.flag_bit_ = 0;
  return *this;
}

AtomicFlagSet::AtomicFlag::~AtomicFlag() { ReleaseAtomicFlag(); }

void AtomicFlagSet::AtomicFlag::SetActive(bool active) {
  CHECK(group_);
  if (active) {
    group_->flags.fetch_or(flag_bit_, std::memory_order_acq_rel);
  } else {
    group_->flags.fetch_and(~flag_bit_, std::memory_order_acq_rel);
  }
}

void AtomicFlagSet::AtomicFlag::ReleaseAtomicFlag() {
  if (!group_) return;
  group_->flags.fetch_and(~flag_bit_, std::memory_order_acq_rel);
  if (group_->IsFull()) outer_->AddToPartiallyFreeList(group_);
  const int index = std::countr_zero(flag_bit_);
  group_->flag_callbacks[index].Reset();
  group_->allocated_flags &= ~flag_bit_;
  if (group_->IsEmpty()) {
    outer_->RemoveFromPartiallyFreeList(group_);
    outer_->RemoveFromAllocList(group_);
  }
  outer_ = nullptr;
  group_ = nullptr;
  flag_bit_ = 0;
}

AtomicFlagSet::AtomicFlagSet(
    scoped_refptr<AssociatedThreadId> associated_thread)
    : associated_thread_(std::move(associated_thread)) {}

AtomicFlagSet::~AtomicFlagSet() {
  // Iteratively, so that a long chain does not recurse.
  while (alloc_list_head_) alloc_list_head_ = std::move(alloc_list_head_->next);
}

AtomicFlagSet::AtomicFlag AtomicFlagSet::AddFlag(
    RepeatableCallback<void()> callback) {
  if (!partially_free_list_head_) {
    auto group = std::make_unique<Group>();
    Group* raw = group.get();
    AddToAllocList(std::move(group));
    AddToPartiallyFreeList(raw);
  }
  Group* group = partially_free_list_head_;
  const int index = std::countr_one(group->allocated_flags);
  const uint64_t flag_bit = uint64_t{1} << index;
  group->flag_callbacks[index] = std::move(callback);
  group->allocated_flags |= flag_bit;
  if (group->IsFull()) RemoveFromPartiallyFreeList(group);
  return AtomicFlag(this, group, flag_bit);
}

void AtomicFlagSet::RunActiveCallbacks() const {
  for (Group* group = alloc_list_head_.get(); group;
       group = group->next.get()) {
    uint64_t active = group->flags.exchange(0, std::memory_order_acq_rel);
    while (active) {
      const int index = std::countr_zero(active);
      active &= active - 1;
      group->flag_callbacks[index].Run();
    }
  }
}

void AtomicFlagSet::AddToAllocList(std::unique_ptr<Group> group) {
  if (alloc_list_head_) alloc_list_head_->prev = group.get();
  group->next = std::move(alloc_list_head_);
  alloc_list_head_ = std::move(group);
}

void AtomicFlagSet::RemoveFromAllocList(Group* group) {
  if (group->next) group->next->prev = group->prev;
  std::unique_ptr<Group>& owner =
      group->prev ? group->prev->next : alloc_list_head_;
  // Detach before the group dies with the old owner's value.
  std::unique_ptr<Group> doomed = std::move(owner);
  owner = std::move(doomed->next);
}

void AtomicFlagSet::AddToPartiallyFreeList(Group* group) {
  CHECK(!group->partially_free_list_prev);
  CHECK(!group->partially_free_list_next);
  if (partially_free_list_head_)
    partially_free_list_head_->partially_free_list_prev = group;
  group->partially_free_list_next = partially_free_list_head_;
  partially_free_list_head_ = group;
}

void AtomicFlagSet::RemoveFromPartiallyFreeList(Group* group) {
  if (group->partially_free_list_next) {
    group->partially_free_list_next->partially_free_list_prev =
        group->partially_free_list_prev;
  }
  if (group->partially_free_list_prev) {
    group->partially_free_list_prev->partially_free_list_next =
        group->partially_free_list_next;
  } else if (partially_free_list_head_ == group) {
    partially_free_list_head_ = group->partially_free_list_next;
  }
  group->partially_free_list_prev = nullptr;
  group->partially_free_list_next = nullptr;
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

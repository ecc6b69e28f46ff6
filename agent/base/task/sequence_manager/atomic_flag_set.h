#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_ATOMIC_FLAG_SET_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_ATOMIC_FLAG_SET_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include "agent/base/functional/callback.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/sequence_manager/associated_thread_id.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// Flags that any thread can raise with one atomic operation and that the
// owning thread collects cheaply, running one callback per raised flag.
// Flags are packed 64 to a group, so collecting costs one atomic exchange
// per group.
//
// Threads: SetActive() from any thread; everything else on the owner's
// thread. Every flag must be released before the set is destroyed.
class AtomicFlagSet {
 private:
  struct Group;

 public:
  // The handle to one flag. Move-only; releases the flag when destroyed.
  class AtomicFlag {
   public:
    AtomicFlag();
    AtomicFlag(AtomicFlag&& other);
    AtomicFlag& operator=(AtomicFlag&& other);
    AtomicFlag(const AtomicFlag&) = delete;
    AtomicFlag& operator=(const AtomicFlag&) = delete;
    ~AtomicFlag();

    // Raises (true) or lowers (false) the flag. Any thread; not on an empty
    // handle. The read-modify-write publishes the caller's earlier writes
    // to the thread that collects the flag.
    void SetActive(bool active);

    // Gives the flag back to the set and empties the handle. Owner's
    // thread; nothing for an empty handle.
    void ReleaseAtomicFlag();

   private:
    friend class AtomicFlagSet;
    AtomicFlag(AtomicFlagSet* outer, Group* group, uint64_t flag_bit);

    AtomicFlagSet* outer_ = nullptr;
    Group* group_ = nullptr;
    uint64_t flag_bit_ = 0;
  };

  explicit AtomicFlagSet(scoped_refptr<AssociatedThreadId> associated_thread);
  AtomicFlagSet(const AtomicFlagSet&) = delete;
  AtomicFlagSet& operator=(const AtomicFlagSet&) = delete;
  ~AtomicFlagSet();

  // A new, lowered flag whose callback is `callback`.
  AtomicFlag AddFlag(RepeatableCallback<void()> callback);

  // Lowers every raised flag and runs its callback: groups newest first,
  // within a group by index. A flag raised while this runs either runs now
  // or stays raised for the next run.
  void RunActiveCallbacks() const;

 private:
  struct Group {
    Group();
    ~Group();

    bool IsFull() const { return allocated_flags == ~uint64_t{0}; }
    bool IsEmpty() const { return allocated_flags == 0; }

    std::atomic<uint64_t> flags{0};
    uint64_t allocated_flags = 0;
    RepeatableCallback<void()> flag_callbacks[64];
    Group* prev = nullptr;
    std::unique_ptr<Group> next;
    Group* partially_free_list_prev = nullptr;
    Group* partially_free_list_next = nullptr;
  };

  void AddToAllocList(std::unique_ptr<Group> group);
  void RemoveFromAllocList(Group* group);
  void AddToPartiallyFreeList(Group* group);
  void RemoveFromPartiallyFreeList(Group* group);

  scoped_refptr<AssociatedThreadId> associated_thread_;
  std::unique_ptr<Group> alloc_list_head_;
  Group* partially_free_list_head_ = nullptr;
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_ATOMIC_FLAG_SET_H_

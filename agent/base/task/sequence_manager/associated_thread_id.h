#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_ASSOCIATED_THREAD_ID_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_ASSOCIATED_THREAD_ID_H_

#include <atomic>

#include "agent/base/memory/ref_counted.h"
#include "agent/base/threading/platform_thread.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

// The thread a sequence manager is bound to, shared by the manager, its
// queues, their runners, the selector and the time domains. Created
// unbound (id 0); bound once, on the thread itself. Any thread may ask.
class AssociatedThreadId : public RefCountedThreadSafe<AssociatedThreadId> {
 public:
  static scoped_refptr<AssociatedThreadId> CreateUnbound() {
    return MakeRefCounted<AssociatedThreadId>();
  }
  static scoped_refptr<AssociatedThreadId> CreateBound() {
    scoped_refptr<AssociatedThreadId> id = CreateUnbound();
    id->BindToCurrentThread();
    return id;
  }

  AssociatedThreadId() = default;
  AssociatedThreadId(const AssociatedThreadId&) = delete;
  AssociatedThreadId& operator=(const AssociatedThreadId&) = delete;

  // Binds the record to the calling thread.
  void BindToCurrentThread() {
    thread_id_.store(PlatformThread::CurrentId(), std::memory_order_release);
  }

  // The bound thread's id, or 0 while unbound.
  PlatformThreadId thread_id() const {
    return thread_id_.load(std::memory_order_acquire);
  }

  bool IsBound() const { return thread_id() != 0; }

  // True on the bound thread; false everywhere while unbound.
  bool IsBoundToCurrentThread() const {
    return thread_id() == PlatformThread::CurrentId();
  }

 private:
  friend class RefCountedThreadSafe<AssociatedThreadId>;
  ~AssociatedThreadId() = default;

  std::atomic<PlatformThreadId> thread_id_{0};
};

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_ASSOCIATED_THREAD_ID_H_

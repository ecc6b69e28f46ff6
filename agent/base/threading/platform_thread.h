#ifndef AGENT_BASE_THREADING_PLATFORM_THREAD_H_
#define AGENT_BASE_THREADING_PLATFORM_THREAD_H_

// The lowest layer of threading: the current thread's id and handle,
// sleeping and yielding, naming, and starting and joining POSIX threads with
// a scheduling priority.

#include <pthread.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/base/time/time.h"

namespace kelmbase {

// A kernel thread id (gettid).
using PlatformThreadId = int32_t;

// The POSIX handle of a started thread; null when creation failed or the
// thread is detached.
class PlatformThreadHandle {
 public:
  using Handle = pthread_t;

  constexpr PlatformThreadHandle() = default;
  constexpr explicit PlatformThreadHandle(Handle handle) : handle_(handle) {}

  bool is_equal(const PlatformThreadHandle& other) const {
    return handle_ == other.handle_;
  }
  bool is_null() const { return handle_ == 0; }
  Handle platform_handle() const { return handle_; }

 private:
  Handle handle_ = 0;
};

// Scheduling priority of a thread. Each has a nice value, and threads above
// normal priority may need privileges to take it.
enum class ThreadPriority : int32_t {
  kBackground = 0,
  kNormal = 1,
  kUrgent = 2,
  kRealtime = 3,
};

class PlatformThread {
 public:
  // The work of a thread started by Create*.
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // Unused by the threading layer; always 0.
    virtual size_t GetDefaultThreadStackSize() const { return 0; }
    // Runs on the new thread; the thread ends when it returns.
    virtual void RunThreadBody() = 0;
  };

  PlatformThread() = delete;

  // The kernel id of the calling thread, cached per thread (one system call
  // per thread lifetime). A forked child re-reads it.
  static PlatformThreadId CurrentId();
  // pthread_self().
  static PlatformThreadHandle CurrentHandle();
  // Offers the processor to other threads (sched_yield).
  static void YieldCurrentThread();
  // Sleeps for at least `duration`, resuming after signal interruptions. A
  // zero or negative span returns at once; an infinite one sleeps for the
  // largest span the system accepts.
  static void Sleep(Duration duration);

  // The registered name of the calling thread ("" when it has none).
  static const char* GetName();
  // Names the calling thread in the thread-name registry and, except on the
  // main thread, for the kernel (which keeps the first 15 bytes).
  static void SetName(const std::string& name);

  // Starts a joinable thread running `delegate->RunThreadBody()` at
  // `priority`, with `stack_size` bytes of stack (0: the system default).
  // Stores its handle in `*thread_handle`; false (null handle, ERROR record
  // "pthread_create") when it could not be started.
  static bool CreateWithPriority(size_t stack_size, Delegate* delegate,
                                 PlatformThreadHandle* thread_handle,
                                 ThreadPriority priority);
  // The same at normal priority.
  static bool Create(size_t stack_size, Delegate* delegate,
                     PlatformThreadHandle* thread_handle) {
    return CreateWithPriority(stack_size, delegate, thread_handle,
                              ThreadPriority::kNormal);
  }
  // Starts a detached thread, which cleans up after itself.
  static bool CreateNonJoinable(size_t stack_size, Delegate* delegate,
                                ThreadPriority priority =
                                    ThreadPriority::kNormal);
  // Waits for a joinable thread to end. Joining fails fatally when the
  // handle is not joinable.
  static void Join(PlatformThreadHandle thread_handle);

  // Whether the calling process may raise a thread to `priority`.
  static bool MayRaisePriority(ThreadPriority priority);

  // Moves the calling thread to `priority`: writes its id into the cgroup
  // "tasks" files that exist and sets the scheduling policy or nice value.
  // Errors are ignored. Called by every thread started here as it begins.
  static void ApplyPriority(ThreadPriority priority);
};

namespace internal {

// The nice value of `priority` (0 for an unknown one).
int PriorityToNice(ThreadPriority priority);

// The start routine of every thread created here: applies the priority,
// registers the thread's name record, runs the delegate, unregisters.
void* ThreadEntry(void* params);

// Whether the calling process may lower the nice value to `nice_value`:
// always for the superuser, else within RLIMIT_NICE.
bool MayLowerNiceTo(int nice_value);

// Writes the calling thread's id into the "tasks" file of the cgroup
// directory of `priority` under each cgroup root, where that directory
// exists.
void MoveThreadToCgroups(ThreadPriority priority);

// The calling thread's id, -1 until the thread first asks for it.
inline thread_local PlatformThreadId g_cached_thread_id = -1;
// Fills the cache with the kernel's id and returns it.
PlatformThreadId CacheCurrentThreadId();

}  // namespace internal

// Inline: the task system and the trace log ask for it on every post and
// every event, and the cached case is a single thread-local load.
inline PlatformThreadId PlatformThread::CurrentId() {
  const PlatformThreadId id = internal::g_cached_thread_id;
  return id != -1 ? id : internal::CacheCurrentThreadId();
}

}  // namespace kelmbase

#endif  // AGENT_BASE_THREADING_PLATFORM_THREAD_H_

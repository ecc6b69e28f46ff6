#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <memory>
#include <optional>

#include "agent/base/debug/activity_tracker.h"
#include "agent/base/location.h"
#include "agent/base/threading/platform_thread.h"
#include "agent/base/threading/scoped_blocking_call.h"
#include "agent/base/threading/thread_name_registry.h"
#include "logging/check.h"
#include "logging/log.h"

namespace kelmbase {
namespace {

// What the start routine needs; allocated by the creator, freed by the new
// thread (or by the creator when the thread could not be started).
struct ThreadParams {
  PlatformThread::Delegate* delegate = nullptr;
  bool joinable = false;
  ThreadPriority priority = ThreadPriority::kNormal;
};

void ResetCachedThreadIdInChild() { internal::g_cached_thread_id = -1; }

bool CreateThread(size_t stack_size, bool joinable,
                  PlatformThread::Delegate* delegate,
                  PlatformThreadHandle* thread_handle,
                  ThreadPriority priority) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  if (!joinable) {
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  }
  // 0 means the system's default stack size.
  if (stack_size > 0) pthread_attr_setstacksize(&attributes, stack_size);

  auto params = std::make_unique<ThreadParams>();
  params->delegate = delegate;
  params->joinable = joinable;
  params->priority = priority;

  pthread_t handle = 0;
  const int err = pthread_create(&handle, &attributes, &internal::ThreadEntry,
                                 params.get());
  const bool success = err == 0;
  if (success) {
    // The new thread owns the parameters now.
    params.release();
  } else {
    errno = err;
    LOG(ERROR) << "pthread_create" << kelm_log::internal::ErrnoSuffix();
    handle = 0;
  }
  if (thread_handle != nullptr) *thread_handle = PlatformThreadHandle(handle);
  pthread_attr_destroy(&attributes);
  return success;
}

}  // namespace

namespace internal {

void* ThreadEntry(void* raw_params) {
  PlatformThread::Delegate* delegate = nullptr;
  {
    std::unique_ptr<ThreadParams> params(
        static_cast<ThreadParams*>(raw_params));
    delegate = params->delegate;
    PlatformThread::ApplyPriority(params->priority);
  }
  const pthread_t handle = pthread_self();
  const PlatformThreadId id = PlatformThread::CurrentId();
  ThreadNameRegistry::GetInstance()->AddThread(handle, id);
  delegate->RunThreadBody();
  ThreadNameRegistry::GetInstance()->RemoveThread(handle, id);
  return nullptr;
}

}  // namespace internal

PlatformThreadId internal::CacheCurrentThreadId() {
  // A forked child starts with its parent's cached value, which names a
  // thread of another process; the fork handler clears it.
  static const bool fork_handler_registered = [] {
    pthread_atfork(nullptr, nullptr, &ResetCachedThreadIdInChild);
    return true;
  }();
  (void)fork_handler_registered;
  g_cached_thread_id = static_cast<PlatformThreadId>(syscall(SYS_gettid));
  return g_cached_thread_id;
}

PlatformThreadHandle PlatformThread::CurrentHandle() {
  return PlatformThreadHandle(pthread_self());
}

void PlatformThread::YieldCurrentThread() { sched_yield(); }

void PlatformThread::Sleep(Duration duration) {
  if (duration <= Duration()) return;
  // Infinite spans become the largest timespec instead of overflowing.
  struct timespec sleep_time = duration.ToTimeSpec();
  struct timespec remaining;
  while (nanosleep(&sleep_time, &remaining) == -1 && errno == EINTR) {
    sleep_time = remaining;
  }
}

const char* PlatformThread::GetName() {
  return ThreadNameRegistry::GetInstance()->GetName(CurrentId());
}

void PlatformThread::SetName(const std::string& name) {
  ThreadNameRegistry::GetInstance()->SetNameForCurrentThread(name);
  // The kernel's name of the main thread is the process name that tools
  // show; leave it alone.
  if (CurrentId() == getpid()) return;
  // The kernel keeps the first 15 bytes and the terminating NUL.
  prctl(PR_SET_NAME, name.c_str());
}

bool PlatformThread::CreateWithPriority(size_t stack_size, Delegate* delegate,
                                        PlatformThreadHandle* thread_handle,
                                        ThreadPriority priority) {
  return CreateThread(stack_size, /*joinable=*/true, delegate, thread_handle,
                      priority);
}

bool PlatformThread::CreateNonJoinable(size_t stack_size, Delegate* delegate,
                                       ThreadPriority priority) {
  return CreateThread(stack_size, /*joinable=*/false, delegate, nullptr,
                      priority);
}

__attribute__((noinline)) void PlatformThread::Join(
    PlatformThreadHandle thread_handle) {
  debug::ThreadJoinActivityScope thread_activity(
      GetCallerAddress(), thread_handle.platform_handle());
  ScopedBlockingCallWithBaseSyncPrimitives scoped_blocking_call(
      FROM_HERE, BlockingType::kMayBlock);
  CHECK_EQ(0, pthread_join(thread_handle.platform_handle(), nullptr));
}

}  // namespace kelmbase

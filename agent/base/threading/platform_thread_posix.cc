#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "agent/base/threading/platform_thread.h"

namespace kelmbase {
namespace {

// -1 until the thread first asks for its id.
thread_local PlatformThreadId g_cached_thread_id = -1;

void ResetCachedThreadIdInChild() { g_cached_thread_id = -1; }

}  // namespace

PlatformThreadId PlatformThread::CurrentId() {
  // A forked child starts with its parent's cached value, which names a
  // thread of another process; the fork handler clears it.
  static const bool fork_handler_registered = [] {
    pthread_atfork(nullptr, nullptr, &ResetCachedThreadIdInChild);
    return true;
  }();
  (void)fork_handler_registered;
  if (g_cached_thread_id == -1) {
    g_cached_thread_id = static_cast<PlatformThreadId>(syscall(SYS_gettid));
  }
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

}  // namespace kelmbase

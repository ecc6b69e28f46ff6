#include "agent/base/memory/lazy_singleton.h"

#include "agent/base/at_exit.h"
#include "agent/base/threading/platform_thread.h"
#include "agent/base/time/time.h"

namespace kelmbase {
namespace internal {

bool BeginLazySingletonCreation(std::atomic<uintptr_t>* state) {
  // Relaxed is enough for the claim: the maker's writes are published by
  // the release store in CompleteLazySingletonCreation, not by this.
  uintptr_t expected = kLazySingletonNotMade;
  if (state->compare_exchange_strong(expected, kLazySingletonBeingMade,
                                     std::memory_order_relaxed)) {
    return true;
  }
  if (state->load(std::memory_order_acquire) != kLazySingletonBeingMade) {
    return false;
  }
  // Another thread is constructing. Construction is usually short, so
  // yield first; only a slow one costs the waiters millisecond sleeps.
  const MonotonicTime start = MonotonicTime::Now();
  while (state->load(std::memory_order_acquire) == kLazySingletonBeingMade) {
    if ((MonotonicTime::Now() - start).InMicroseconds() > 999) {
      PlatformThread::Sleep(Duration::FromMilliseconds(1));
    } else {
      PlatformThread::YieldCurrentThread();
    }
  }
  return false;
}

void CompleteLazySingletonCreation(std::atomic<uintptr_t>* state,
                                   void* instance, void (*destructor)(void*),
                                   void* argument) {
  state->store(reinterpret_cast<uintptr_t>(instance),
               std::memory_order_release);
  if (instance != nullptr && destructor != nullptr) {
    AtExitStack::AddCallback(destructor, argument);
  }
}

}  // namespace internal
}  // namespace kelmbase

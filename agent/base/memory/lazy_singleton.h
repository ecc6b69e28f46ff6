#ifndef AGENT_BASE_MEMORY_LAZY_SINGLETON_H_
#define AGENT_BASE_MEMORY_LAZY_SINGLETON_H_

// Process-wide objects made on first use.
//
//   kelmbase::LazySingleton<Registry> g_registry;   // at namespace scope
//   Registry* registry = g_registry.Pointer();
//
// Any number of threads may race to the first Pointer(): exactly one
// constructs the T while the others wait, and all get the same address. A
// LazySingleton has a constant initialiser and a trivial destructor, so a
// global one is usable before and after static construction and
// destruction. By default the T is leaked (lives until the process ends);
// with LazySingletonLifetime::kDestroyedAtExit its destructor is registered
// with the current AtExitStack (when one exists) and runs when that stack
// is destroyed; the singleton stays published afterwards, so it must not be
// used from then on.

#include <atomic>
#include <cstdint>
#include <new>

namespace kelmbase {

namespace internal {

// The state word of a singleton: 0 not made, 1 being made, any other value
// the instance's address.
inline constexpr uintptr_t kLazySingletonNotMade = 0;
inline constexpr uintptr_t kLazySingletonBeingMade = 1;

// Returns true when the caller must make the instance (the state moved
// from 0 to 1). Otherwise the instance exists when this returns: if another
// thread is making it, this waits until it is published, yielding the
// processor for the first millisecond and then sleeping 1 ms at a time.
bool BeginLazySingletonCreation(std::atomic<uintptr_t>* state);

// Publishes `instance` in the state word (release store). When `instance`
// is not null and `destructor` is given, registers destructor(argument)
// with the at-exit stack.
void CompleteLazySingletonCreation(std::atomic<uintptr_t>* state,
                                   void* instance, void (*destructor)(void*),
                                   void* argument);

}  // namespace internal

enum class LazySingletonLifetime {
  // Never destroyed.
  kLeaky,
  // Destroyed when the at-exit stack current at creation runs.
  kDestroyedAtExit,
};

template <typename T,
          LazySingletonLifetime kLifetime = LazySingletonLifetime::kLeaky>
class LazySingleton {
 public:
  constexpr LazySingleton() = default;
  LazySingleton(const LazySingleton&) = delete;
  LazySingleton& operator=(const LazySingleton&) = delete;

  // The instance, default-constructed on the first call.
  T* Pointer() {
    uintptr_t value = state_.load(std::memory_order_acquire);
    if (value > internal::kLazySingletonBeingMade) {
      return reinterpret_cast<T*>(value);
    }
    if (internal::BeginLazySingletonCreation(&state_)) {
      T* instance = new (storage_) T();
      internal::CompleteLazySingletonCreation(
          &state_, instance,
          kLifetime == LazySingletonLifetime::kDestroyedAtExit ? &Destroy
                                                                : nullptr,
          instance);
    }
    return reinterpret_cast<T*>(state_.load(std::memory_order_acquire));
  }

  T& Get() { return *Pointer(); }

 private:
  static void Destroy(void* instance) { static_cast<T*>(instance)->~T(); }

  std::atomic<uintptr_t> state_{internal::kLazySingletonNotMade};
  alignas(T) unsigned char storage_[sizeof(T)] = {};
};

}  // namespace kelmbase

#endif  // AGENT_BASE_MEMORY_LAZY_SINGLETON_H_

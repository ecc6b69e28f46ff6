#include "agent/base/memory/lazy_singleton.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "agent/base/at_exit.h"
#include "agent/base/threading/platform_thread.h"
#include "agent/base/time/time.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// Slow enough that the other threads reach the wait while it runs.
struct SlowToMake {
  static inline std::atomic<int> constructions{0};
  SlowToMake() {
    constructions.fetch_add(1);
    PlatformThread::Sleep(Duration::FromMilliseconds(30));
    value = 42;
  }
  int value = 0;
};

constinit LazySingleton<SlowToMake> g_slow;

TEST(LazySingletonTest, RacingThreadsGetOneInstance) {
  constexpr int kThreads = 8;
  std::atomic<bool> go{false};
  std::vector<SlowToMake*> seen(kThreads, nullptr);
  std::vector<int> values(kThreads, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) {
      }
      seen[i] = g_slow.Pointer();
      // The constructor's writes are visible to every caller.
      values[i] = seen[i]->value;
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(1, SlowToMake::constructions.load());
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(seen[0], seen[i]);
    EXPECT_EQ(42, values[i]);
  }
  EXPECT_EQ(seen[0], &g_slow.Get());
}

TEST(LazySingletonTest, CreationProtocolOnAStateWord) {
  std::atomic<uintptr_t> state{internal::kLazySingletonNotMade};
  int instance = 5;

  ASSERT_TRUE(internal::BeginLazySingletonCreation(&state));
  EXPECT_EQ(internal::kLazySingletonBeingMade, state.load());

  // A second caller waits until the maker publishes, then is told not to
  // make it.
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    EXPECT_FALSE(internal::BeginLazySingletonCreation(&state));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(&instance), state.load());
    returned.store(true);
  });
  // Long enough that the waiter has moved from yielding to sleeping.
  PlatformThread::Sleep(Duration::FromMilliseconds(5));
  EXPECT_FALSE(returned.load());
  internal::CompleteLazySingletonCreation(&state, &instance, nullptr, nullptr);
  waiter.join();
  EXPECT_TRUE(returned.load());

  // Once published, Begin answers at once.
  EXPECT_FALSE(internal::BeginLazySingletonCreation(&state));
}

struct Destroyable {
  static inline int destructions = 0;
  ~Destroyable() { ++destructions; }
};

struct Leaked {
  static inline int destructions = 0;
  ~Leaked() { ++destructions; }
};

TEST(LazySingletonTest, AtExitLifetimeDestroysWithTheStack) {
  static LazySingleton<Destroyable, LazySingletonLifetime::kDestroyedAtExit>
      destroyable;
  static LazySingleton<Leaked> leaked;
  Destroyable* first = nullptr;
  {
    AtExitStack stack;
    first = destroyable.Pointer();
    leaked.Pointer();
    EXPECT_EQ(first, destroyable.Pointer());
    EXPECT_EQ(0, Destroyable::destructions);
  }
  EXPECT_EQ(1, Destroyable::destructions);
  EXPECT_EQ(0, Leaked::destructions);
}

struct MadeWithoutStack {
  static inline int destructions = 0;
  ~MadeWithoutStack() { ++destructions; }
};

TEST(LazySingletonTest, AtExitLifetimeWithoutAStackLeaks) {
  static LazySingleton<MadeWithoutStack,
                       LazySingletonLifetime::kDestroyedAtExit>
      singleton;
  singleton.Pointer();
  { AtExitStack later_stack; }
  EXPECT_EQ(0, MadeWithoutStack::destructions);
}

}  // namespace
}  // namespace kelmbase

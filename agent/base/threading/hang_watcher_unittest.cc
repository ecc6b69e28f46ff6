#include "agent/base/threading/hang_watcher.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "agent/base/synchronization/lock.h"
#include "agent/base/threading/thread_restrictions.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

constexpr uint64_t kIgnored = HangWatchState::kHangsIgnoredBit;
constexpr uint64_t kIgnoreScope = HangWatchState::kIgnoreHangsScopeActiveBit;

TEST(HangWatcherTest, ScopesTakeNoEffectWithoutState) {
  EXPECT_FALSE(HangWatching::IsEnabled());
  EXPECT_EQ(nullptr, HangWatchState::GetForCurrentThread());
  HangWatchScope scope(HangWatchScope::kDefaultHangWatchTime);
  EXPECT_FALSE(scope.took_effect());
  IgnoreHangsScope ignore;
  EXPECT_FALSE(ignore.took_effect());
  ScopedAllowBaseSyncPrimitivesOutsideBlockingScope allow(FROM_HERE);
}

TEST(HangWatcherTest, NestedScopesSetAndRestoreDeadlines) {
  auto state = HangWatchState::CreateForCurrentThread();
  ASSERT_EQ(state.get(), HangWatchState::GetForCurrentThread());
  const MonotonicTime before = MonotonicTime::Now();
  {
    HangWatchScope outer(Duration::FromSeconds(10));
    EXPECT_TRUE(outer.took_effect());
    EXPECT_EQ(1, state->nesting_level());
    const MonotonicTime outer_deadline = state->deadline();
    EXPECT_GE(outer_deadline, before + Duration::FromSeconds(10));
    {
      HangWatchScope inner(Duration::FromSeconds(1));
      EXPECT_EQ(2, state->nesting_level());
      EXPECT_LT(state->deadline(), outer_deadline);
    }
    EXPECT_EQ(outer_deadline, state->deadline());
  }
  EXPECT_EQ(0, state->nesting_level());
  EXPECT_TRUE(state->deadline().is_null());
  {
    // An infinite timeout saturates into the deadline bits.
    HangWatchScope forever(Duration::Max());
    EXPECT_EQ(HangWatchState::kDeadlineMask,
              state->word() & HangWatchState::kDeadlineMask);
  }
  state.reset();
  EXPECT_EQ(nullptr, HangWatchState::GetForCurrentThread());
}

TEST(HangWatcherTest, IgnoreHangsScopeInsideWork) {
  auto state = HangWatchState::CreateForCurrentThread();
  {
    HangWatchScope work(Duration::FromSeconds(10));
    {
      ScopedAllowBaseSyncPrimitivesOutsideBlockingScope allow(FROM_HERE);
      EXPECT_TRUE(state->IsFlagSet(kIgnored));
      EXPECT_TRUE(state->IsFlagSet(kIgnoreScope));
      // A nested ignore scope takes no effect.
      IgnoreHangsScope nested;
      EXPECT_FALSE(nested.took_effect());
    }
    // Ignoring lasts until the work ends.
    EXPECT_TRUE(state->IsFlagSet(kIgnored));
    EXPECT_FALSE(state->IsFlagSet(kIgnoreScope));
  }
  EXPECT_FALSE(state->IsFlagSet(kIgnored));
}

TEST(HangWatcherTest, IgnoreHangsScopeOutsideWork) {
  auto state = HangWatchState::CreateForCurrentThread();
  {
    IgnoreHangsScope ignore;
    EXPECT_TRUE(ignore.took_effect());
    EXPECT_TRUE(state->IsFlagSet(kIgnored | kIgnoreScope));
  }
  EXPECT_FALSE(state->IsFlagSet(kIgnored));
  EXPECT_FALSE(state->IsFlagSet(kIgnoreScope));
}

TEST(HangWatcherTest, NewWorkDoesNotInheritIgnoredHangs) {
  auto state = HangWatchState::CreateForCurrentThread();
  HangWatchScope outer(Duration::FromSeconds(10));
  { IgnoreHangsScope ignore; }
  ASSERT_TRUE(state->IsFlagSet(kIgnored));
  {
    HangWatchScope inner(Duration::FromSeconds(10));
    EXPECT_FALSE(state->IsFlagSet(kIgnored));
  }
  // Back in the outer work, whose hangs stay ignored.
  EXPECT_TRUE(state->IsFlagSet(kIgnored));
}

TEST(HangWatcherTest, ScopeEndWaitsForACaptureInProgress) {
  auto state = HangWatchState::CreateForCurrentThread();
  auto scope = std::make_unique<HangWatchScope>(Duration::FromSeconds(10));
  std::atomic<bool> capturing{false};
  std::atomic<bool> capture_done{false};
  std::thread watcher([&] {
    ScopedLock capture(GetHangWatcherCaptureLock());
    state->SetCaptureInProgress(true);
    capturing = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    capture_done = true;
    state->SetCaptureInProgress(false);
  });
  while (!capturing.load()) std::this_thread::yield();
  scope.reset();
  EXPECT_TRUE(capture_done.load());
  watcher.join();
}

class ReplacingHook : public HangWatchState::Hook {
 public:
  uint64_t BeforeChange(uint64_t current) override {
    ++calls;
    return current | extra;
  }
  int calls = 0;
  uint64_t extra = 0;
};

TEST(HangWatcherTest, HookIsAskedBeforeEveryChange) {
  auto state = HangWatchState::CreateForCurrentThread();
  ReplacingHook hook;
  hook.extra = uint64_t{1} << 57;
  state->SetHook(&hook);
  { IgnoreHangsScope ignore; }
  EXPECT_EQ(4, hook.calls);  // Two flags set, two cleared.
  EXPECT_NE(0u, state->word() & (uint64_t{1} << 57));
  state->SetHook(nullptr);
}

}  // namespace
}  // namespace kelmbase

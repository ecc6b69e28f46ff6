#include "agent/base/threading/hang_watcher.h"

#include "agent/base/synchronization/lock.h"
#include "agent/base/threading/thread_local_storage.h"
#include "logging/check.h"

namespace kelmbase {
namespace {

ThreadLocalStorage::Slot& GetHangWatchStateSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

// Nothing in this program switches hang watching on.
std::atomic<bool> g_hang_watching_enabled{false};

uint64_t DeadlineBits(MonotonicTime deadline) {
  const int64_t us = deadline.ToInternalValue();
  if (us <= 0) return 0;
  if (static_cast<uint64_t>(us) > HangWatchState::kDeadlineMask) {
    return HangWatchState::kDeadlineMask;
  }
  return static_cast<uint64_t>(us);
}

}  // namespace

bool HangWatching::IsEnabled() {
  return g_hang_watching_enabled.load(std::memory_order_relaxed);
}

Lock& GetHangWatcherCaptureLock() {
  static Lock* const lock = new Lock();
  return *lock;
}

std::unique_ptr<HangWatchState> HangWatchState::CreateForCurrentThread() {
  CHECK(GetHangWatchStateSlot().Get() == nullptr);
  std::unique_ptr<HangWatchState> state(new HangWatchState());
  GetHangWatchStateSlot().Set(state.get());
  return state;
}

HangWatchState* HangWatchState::GetForCurrentThread() {
  return static_cast<HangWatchState*>(GetHangWatchStateSlot().Get());
}

HangWatchState::HangWatchState() = default;

HangWatchState::~HangWatchState() {
  if (GetHangWatchStateSlot().Get() == this) {
    GetHangWatchStateSlot().Set(nullptr);
  }
}

template <typename Change>
void HangWatchState::UpdateWord(Change change) {
  // Only this thread changes the deadline and the scope bits; the watcher
  // may flip the capture bit meanwhile, hence the compare-exchange.
  uint64_t current = word_.load(std::memory_order_acquire);
  for (;;) {
    const uint64_t base =
        hook_ != nullptr ? hook_->BeforeChange(current) : current;
    if (word_.compare_exchange_weak(current, change(base),
                                    std::memory_order_acq_rel,
                                    std::memory_order_acquire)) {
      return;
    }
  }
}

void HangWatchState::SetFlags(uint64_t flags) {
  UpdateWord([flags](uint64_t word) { return word | flags; });
}

void HangWatchState::ClearFlags(uint64_t flags) {
  UpdateWord([flags](uint64_t word) { return word & ~flags; });
}

void HangWatchState::SetDeadline(MonotonicTime deadline) {
  const uint64_t bits = DeadlineBits(deadline);
  UpdateWord(
      [bits](uint64_t word) { return (word & ~kDeadlineMask) | bits; });
}

void HangWatchState::SetCaptureInProgress(bool in_progress) {
  if (in_progress) {
    word_.fetch_or(kCaptureInProgressBit, std::memory_order_acq_rel);
  } else {
    word_.fetch_and(~kCaptureInProgressBit, std::memory_order_acq_rel);
  }
}

HangWatchScope::HangWatchScope(Duration timeout) {
  HangWatchState* state = HangWatchState::GetForCurrentThread();
  if (state == nullptr) return;
  took_effect_ = true;
  // Hangs left ignored by an ended IgnoreHangsScope do not carry over into
  // this work; they are ignored again once it ends.
  if (state->IsFlagSet(HangWatchState::kHangsIgnoredBit) &&
      !state->IsFlagSet(HangWatchState::kIgnoreHangsScopeActiveBit)) {
    state->ClearFlags(HangWatchState::kHangsIgnoredBit);
    set_hangs_ignored_on_exit_ = true;
  }
  previous_deadline_ = state->deadline();
  state->SetDeadline(MonotonicTime::Now() + timeout);
  ++state->nesting_level_;
}

HangWatchScope::~HangWatchScope() {
  if (!took_effect_) return;
  HangWatchState* state = HangWatchState::GetForCurrentThread();
  if (state == nullptr) return;
  if (state->IsFlagSet(HangWatchState::kCaptureInProgressBit)) {
    // Let the watcher finish capturing this thread as it is.
    GetHangWatcherCaptureLock().Acquire();
    GetHangWatcherCaptureLock().Release();
  }
  if (state->nesting_level_ == 1) {
    state->ClearFlags(HangWatchState::kHangsIgnoredBit);
  } else if (set_hangs_ignored_on_exit_) {
    state->SetFlags(HangWatchState::kHangsIgnoredBit);
  }
  state->SetDeadline(previous_deadline_);
  --state->nesting_level_;
}

IgnoreHangsScope::IgnoreHangsScope() {
  HangWatchState* state = HangWatchState::GetForCurrentThread();
  if (state == nullptr ||
      state->IsFlagSet(HangWatchState::kIgnoreHangsScopeActiveBit)) {
    return;
  }
  took_effect_ = true;
  state->SetFlags(HangWatchState::kHangsIgnoredBit);
  state->SetFlags(HangWatchState::kIgnoreHangsScopeActiveBit);
}

IgnoreHangsScope::~IgnoreHangsScope() {
  if (!took_effect_) return;
  HangWatchState* state = HangWatchState::GetForCurrentThread();
  if (state == nullptr) return;
  // Outside any watched work nothing is left to ignore; inside, the
  // ignoring lasts until the work's scope ends.
  if (state->nesting_level() == 0) {
    state->ClearFlags(HangWatchState::kHangsIgnoredBit);
  }
  state->ClearFlags(HangWatchState::kIgnoreHangsScopeActiveBit);
}

}  // namespace kelmbase

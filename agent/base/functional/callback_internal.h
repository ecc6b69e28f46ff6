#ifndef AGENT_BASE_FUNCTIONAL_CALLBACK_INTERNAL_H_
#define AGENT_BASE_FUNCTIONAL_CALLBACK_INTERNAL_H_

// The untyped machinery under OneShotCallback and RepeatableCallback. Code
// outside agent/base/functional uses callback.h and bind.h instead.

#include "agent/base/memory/atomic_ref_count.h"

namespace kelmbase {
namespace internal {

// The heap-allocated, reference-counted state of one binding: the functor
// and its bound arguments live in the concrete state that extends this
// class (see bind_internal.h); this part holds what every binding shares.
//
// The count starts at 1, held by the callback that creates the state.
// Increments are relaxed and decrements acquire-release, so whichever thread
// drops the last reference destroys the bound arguments, and sees every
// write made through the other references first.
class BoundStateBase {
 public:
  // What the cancellation query is asked. Any other value answers false.
  enum class CancellationQueryMode : int {
    kIsCancelled = 0,
    kIsPossiblyValid = 1,
  };

  // The concrete type of `invoke` depends on the callback's signature:
  // R (*)(BoundStateBase*, Args&&...). It is kept type-erased here and
  // cast back by the typed callback, which knows the signature.
  using InvokeFuncStorage = void (*)();
  // Destroys the bound arguments and frees the state.
  using DestroyFunc = void (*)(const BoundStateBase*);
  using QueryFunc = bool (*)(const BoundStateBase*, CancellationQueryMode);

  BoundStateBase(const BoundStateBase&) = delete;
  BoundStateBase& operator=(const BoundStateBase&) = delete;

  InvokeFuncStorage invoke() const { return invoke_; }

  bool IsCancelled() const {
    return query_(this, CancellationQueryMode::kIsCancelled);
  }
  bool IsPossiblyValid() const {
    return query_(this, CancellationQueryMode::kIsPossiblyValid);
  }

  // Adds a reference for a new sharer, who must have got the state from an
  // existing holder: fatal when the count was not positive.
  void AddRefChecked() const;

  // Drops a reference; the last one destroys the state on this thread.
  void Release() const;

 protected:
  // With the default query: never cancelled, always possibly valid.
  BoundStateBase(InvokeFuncStorage invoke, DestroyFunc destroy);
  // With a query of the binding's own.
  BoundStateBase(InvokeFuncStorage invoke, DestroyFunc destroy,
                 QueryFunc query);
  // Only `destroy` ends a state, through the concrete type.
  ~BoundStateBase() = default;

 private:
  static bool DefaultQuery(const BoundStateBase* state,
                           CancellationQueryMode mode);

  mutable AtomicRefCount ref_count_{1};
  const InvokeFuncStorage invoke_;
  const DestroyFunc destroy_;
  const QueryFunc query_;
};

// One owning pointer to a bound state, null for an empty callback. The
// typed callbacks derive from it and add only typing and Run().
class CallbackCore {
 public:
  // True for an empty callback (made by default, moved from, reset, or a
  // one-shot callback that has run).
  bool is_null() const { return bound_state_ == nullptr; }
  explicit operator bool() const { return !is_null(); }

  // Releases the state and leaves the callback empty.
  void Reset();

  // Whether running would do nothing (a weak receiver is gone, or an inner
  // callback is cancelled). An empty callback counts as cancelled.
  bool IsCancelled() const;

  // Whether the callback may still do something when run; answerable on
  // any sequence, with a false answer final. An empty callback is not.
  bool IsPossiblyValid() const;

 protected:
  CallbackCore() = default;
  // Adopts a new state and the reference it was created with.
  explicit CallbackCore(BoundStateBase* bound_state)
      : bound_state_(bound_state) {}

  // Shares `other`'s state, adding a reference (repeatable callbacks only).
  CallbackCore(const CallbackCore& other);
  CallbackCore& operator=(const CallbackCore& other);

  // Takes `other`'s state and leaves it empty.
  CallbackCore(CallbackCore&& other) noexcept
      : bound_state_(other.bound_state_) {
    other.bound_state_ = nullptr;
  }
  // Takes `other`'s state (leaving it empty), then releases the state held
  // before.
  CallbackCore& operator=(CallbackCore&& other) noexcept;

  ~CallbackCore();

  BoundStateBase* bound_state() const { return bound_state_; }

 private:
  BoundStateBase* bound_state_ = nullptr;
};

}  // namespace internal
}  // namespace kelmbase

#endif  // AGENT_BASE_FUNCTIONAL_CALLBACK_INTERNAL_H_

#ifndef AGENT_BASE_FUNCTIONAL_CALLBACK_H_
#define AGENT_BASE_FUNCTIONAL_CALLBACK_H_

// Bound callbacks: a function together with arguments bound to it when the
// callback was made (see bind.h), kept in one heap-allocated,
// reference-counted bound state. A callback is one pointer wide.
//
//   OneShotCallback<R(Args...)>   runs at most once; move-only. Running it
//                                 or moving from it leaves it empty.
//   OneShotClosure                OneShotCallback<void()>, the task type.
//   RepeatableCallback<R(Args...)> runs any number of times; copies share
//                                 the one bound state.
//
// The bound arguments are destroyed with the bound state, on whichever
// thread drops the last reference to it: for a posted task, the thread that
// ran or discarded it.
//
// A callback object is not synchronised; a repeatable callback's copies may
// live and run on several threads, but then the bound data must be safe to
// use concurrently.

#include <cstddef>
#include <utility>

#include "agent/base/functional/callback_forward.h"
#include "agent/base/functional/callback_internal.h"
#include "logging/check.h"

namespace kelmbase {

template <typename R, typename... Args>
class OneShotCallback<R(Args...)> : public internal::CallbackCore {
 public:
  using ResultType = R;
  using RunType = R(Args...);
  // The type of the state's invoke operation for this signature.
  using InvokeFunc = R (*)(internal::BoundStateBase*, Args&&...);

  // An empty callback.
  constexpr OneShotCallback() = default;
  OneShotCallback(std::nullptr_t) {}  // NOLINT: null converts.

  // Adopts a freshly made bound state; used by BindOneShot.
  explicit OneShotCallback(internal::BoundStateBase* bound_state)
      : CallbackCore(bound_state) {}

  OneShotCallback(const OneShotCallback&) = delete;
  OneShotCallback& operator=(const OneShotCallback&) = delete;
  OneShotCallback(OneShotCallback&&) noexcept = default;
  OneShotCallback& operator=(OneShotCallback&&) noexcept = default;

  OneShotCallback& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  // Runs the callback and consumes it: the state moves into a local holder
  // first, so the callback is empty from here on (also inside the run), and
  // the holder's release after the run destroys the bound arguments. Running
  // an empty callback is fatal; test is_null() where it may be empty.
  R Run(Args... args) {
    CHECK(!is_null());
    OneShotCallback holder = std::move(*this);
    internal::BoundStateBase* state = holder.bound_state();
    InvokeFunc invoke = reinterpret_cast<InvokeFunc>(state->invoke());
    return invoke(state, std::forward<Args>(args)...);
  }
};

template <typename R, typename... Args>
class RepeatableCallback<R(Args...)> : public internal::CallbackCore {
 public:
  using ResultType = R;
  using RunType = R(Args...);
  using InvokeFunc = R (*)(internal::BoundStateBase*, Args&&...);

  // An empty callback.
  constexpr RepeatableCallback() = default;
  RepeatableCallback(std::nullptr_t) {}  // NOLINT: null converts.

  // Adopts a freshly made bound state; used by BindRepeatable.
  explicit RepeatableCallback(internal::BoundStateBase* bound_state)
      : CallbackCore(bound_state) {}

  // Copies share the state and add a reference to it.
  RepeatableCallback(const RepeatableCallback&) = default;
  RepeatableCallback& operator=(const RepeatableCallback&) = default;
  RepeatableCallback(RepeatableCallback&&) noexcept = default;
  RepeatableCallback& operator=(RepeatableCallback&&) noexcept = default;

  RepeatableCallback& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  // Runs the callback; it stays intact. Running an empty callback is fatal.
  R Run(Args... args) const {
    CHECK(!is_null());
    internal::BoundStateBase* state = bound_state();
    InvokeFunc invoke = reinterpret_cast<InvokeFunc>(state->invoke());
    return invoke(state, std::forward<Args>(args)...);
  }
};

}  // namespace kelmbase

#endif  // AGENT_BASE_FUNCTIONAL_CALLBACK_H_

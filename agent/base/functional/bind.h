#ifndef AGENT_BASE_FUNCTIONAL_BIND_H_
#define AGENT_BASE_FUNCTIONAL_BIND_H_

// Binding: makes a callback from a functor and the leading arguments to
// pass it. The remaining parameters become the callback's signature.
//
//   void Add(int a, int b, int* sum);
//   kelmbase::OneShotCallback<void(int*)> cb = kelmbase::BindOneShot(&Add, 1, 2);
//
//   kelmbase::OneShotClosure task =
//       kelmbase::BindOneShot(&Worker::Start, weak_factory_.GetWeakPtr());
//
// Functors: a function pointer; a method pointer, whose receiver is the
// first bound argument (a raw pointer, a scoped_refptr that keeps the
// receiver alive, or a WeakPtr); a callable object such as a lambda; or
// another callback, which is run with the bound and run-time arguments.
// Binding a null function pointer or an empty callback is fatal.
//
// Bound arguments are stored by value: owned values and scoped_refptrs are
// moved or copied in, raw pointers are stored unchanged (the caller keeps
// the pointee alive). A one-shot callback passes them on as rvalues, so
// move-only values can be bound; a repeatable callback passes them as
// lvalues on every run.
//
// A method bound to a WeakPtr receiver returns void; running it after the
// weak pointer was voided (or with a null one) does nothing, and the
// callback reports IsCancelled(). A callback used as the functor forwards
// IsCancelled() and IsPossiblyValid() to the inner callback.

#include <type_traits>
#include <utility>

#include "agent/base/functional/bind_internal.h"
#include "agent/base/functional/callback.h"

namespace kelmbase {

template <typename Functor, typename... Args>
auto BindOneShot(Functor&& functor, Args&&... args) {
  using State = internal::BoundState<true, std::decay_t<Functor>,
                                     std::decay_t<Args>...>;
  return OneShotCallback<typename State::UnboundRunType>(State::Create(
      std::forward<Functor>(functor), std::forward<Args>(args)...));
}

template <typename Functor, typename... Args>
auto BindRepeatable(Functor&& functor, Args&&... args) {
  using State = internal::BoundState<false, std::decay_t<Functor>,
                                     std::decay_t<Args>...>;
  return RepeatableCallback<typename State::UnboundRunType>(State::Create(
      std::forward<Functor>(functor), std::forward<Args>(args)...));
}

}  // namespace kelmbase

#endif  // AGENT_BASE_FUNCTIONAL_BIND_H_

#ifndef AGENT_BASE_FUNCTIONAL_BIND_INTERNAL_H_
#define AGENT_BASE_FUNCTIONAL_BIND_INTERNAL_H_

// The concrete bound states behind BindOneShot and BindRepeatable. Code
// outside agent/base/functional uses bind.h instead.
//
// A binding stores the functor and its bound arguments (decayed copies or
// moves of what was passed; raw pointers stay raw pointers) in a
// BoundState, and installs three operations on the BoundStateBase: invoke
// (bound arguments first, then the run-time ones), destroy, and, for the
// bindings that can be cancelled, a cancellation query:
//   - a method on a WeakPtr receiver: invoke does nothing once the weak
//     pointer is null; the query reports it;
//   - another callback used as the functor: invoke runs it; the query asks
//     it.
// Everything else uses the default query (never cancelled).

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "agent/base/functional/callback.h"
#include "agent/base/functional/callback_internal.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/memory/weak_ptr.h"
#include "logging/check.h"

namespace kelmbase {
namespace internal {

template <typename... Ts>
struct TypeList {};

// The list without its first N types.
template <size_t N, typename List>
struct DropTypes;
template <typename... Ts>
struct DropTypes<0, TypeList<Ts...>> {
  using Type = TypeList<Ts...>;
};
template <size_t N, typename T, typename... Ts>
  requires(N > 0)
struct DropTypes<N, TypeList<T, Ts...>> : DropTypes<N - 1, TypeList<Ts...>> {};

template <typename R, typename List>
struct MakeFunctionType;
template <typename R, typename... Ts>
struct MakeFunctionType<R, TypeList<Ts...>> {
  using Type = R(Ts...);
};

template <typename T>
inline constexpr bool kIsWeakPtr = false;
template <typename T>
inline constexpr bool kIsWeakPtr<WeakPtr<T>> = true;

// What can be bound, and how to call it. Params lists every parameter in
// calling order; for a method the receiver comes first.
template <typename Functor>
struct FunctorTraits;

template <typename R, typename... P>
struct PlainFunctionTraits {
  using ReturnType = R;
  using Params = TypeList<P...>;
  static constexpr bool kIsMethod = false;
  static constexpr bool kIsCallback = false;
  static constexpr bool kIsOneShotCallback = false;

  template <typename F, typename... Args>
  static R Invoke(F&& function, Args&&... args) {
    return std::forward<F>(function)(std::forward<Args>(args)...);
  }
};

// Plain functions.
template <typename R, typename... P>
struct FunctorTraits<R (*)(P...)> : PlainFunctionTraits<R, P...> {};
template <typename R, typename... P>
struct FunctorTraits<R (*)(P...) noexcept> : PlainFunctionTraits<R, P...> {};

template <typename R, typename Receiver, typename... P>
struct MethodTraits {
  using ReturnType = R;
  using Params = TypeList<Receiver*, P...>;
  static constexpr bool kIsMethod = true;
  static constexpr bool kIsCallback = false;
  static constexpr bool kIsOneShotCallback = false;

  template <typename Method, typename... Args>
  static R Invoke(Method method, Receiver* receiver, Args&&... args) {
    return (receiver->*method)(std::forward<Args>(args)...);
  }
};

// Methods; the first bound argument is the receiver.
template <typename R, typename C, typename... P>
struct FunctorTraits<R (C::*)(P...)> : MethodTraits<R, C, P...> {};
template <typename R, typename C, typename... P>
struct FunctorTraits<R (C::*)(P...) const> : MethodTraits<R, const C, P...> {};
template <typename R, typename C, typename... P>
struct FunctorTraits<R (C::*)(P...) noexcept> : MethodTraits<R, C, P...> {};
template <typename R, typename C, typename... P>
struct FunctorTraits<R (C::*)(P...) const noexcept>
    : MethodTraits<R, const C, P...> {};

// Callable objects (lambdas, classes with one call operator): the signature
// of the call operator, without its object.
template <typename CallOperator>
struct CallOperatorTraits;
template <typename R, typename C, typename... P>
struct CallOperatorTraits<R (C::*)(P...)> : PlainFunctionTraits<R, P...> {};
template <typename R, typename C, typename... P>
struct CallOperatorTraits<R (C::*)(P...) const> : PlainFunctionTraits<R, P...> {
};
template <typename R, typename C, typename... P>
struct CallOperatorTraits<R (C::*)(P...) noexcept>
    : PlainFunctionTraits<R, P...> {};
template <typename R, typename C, typename... P>
struct CallOperatorTraits<R (C::*)(P...) const noexcept>
    : PlainFunctionTraits<R, P...> {};

template <typename F>
  requires requires { &F::operator(); }
struct FunctorTraits<F> : CallOperatorTraits<decltype(&F::operator())> {};

// Another callback as the functor.
template <typename R, typename... P>
struct FunctorTraits<OneShotCallback<R(P...)>> {
  using ReturnType = R;
  using Params = TypeList<P...>;
  static constexpr bool kIsMethod = false;
  static constexpr bool kIsCallback = true;
  static constexpr bool kIsOneShotCallback = true;

  template <typename... Args>
  static R Invoke(OneShotCallback<R(P...)>&& callback, Args&&... args) {
    return std::move(callback).Run(std::forward<Args>(args)...);
  }
};

template <typename R, typename... P>
struct FunctorTraits<RepeatableCallback<R(P...)>> {
  using ReturnType = R;
  using Params = TypeList<P...>;
  static constexpr bool kIsMethod = false;
  static constexpr bool kIsCallback = true;
  static constexpr bool kIsOneShotCallback = false;

  template <typename... Args>
  static R Invoke(const RepeatableCallback<R(P...)>& callback, Args&&... args) {
    return callback.Run(std::forward<Args>(args)...);
  }
};

// True for what can never be called: a null function or method pointer, or
// an empty callback.
template <typename F>
bool IsNull(const F& functor) {
  if constexpr (std::is_pointer_v<F> || std::is_member_pointer_v<F>) {
    return functor == nullptr;
  } else if constexpr (std::is_base_of_v<CallbackCore, F>) {
    return functor.is_null();
  } else {
    return false;
  }
}

// The receiver of a bound method as a raw pointer.
template <typename T>
T* UnwrapReceiver(T* receiver) {
  return receiver;
}
template <typename T>
T* UnwrapReceiver(const scoped_refptr<T>& receiver) {
  return receiver.get();
}
template <typename T>
T* UnwrapReceiver(const WeakPtr<T>& receiver) {
  return receiver.get();
}

template <typename First, typename... Rest>
struct FirstType {
  using Type = First;
};

// The bound state of one binding. kOneShot states hand their bound
// arguments to the functor as rvalues (the state runs once, so move-only
// arguments can be passed on); repeatable states hand them over as lvalues.
template <bool kOneShot, typename Functor, typename... BoundArgs>
class BoundState final : public BoundStateBase {
 private:
  using Traits = FunctorTraits<Functor>;
  using R = typename Traits::ReturnType;
  static constexpr size_t kNumBound = sizeof...(BoundArgs);
  using UnboundParams =
      typename DropTypes<kNumBound, typename Traits::Params>::Type;

  static constexpr bool WeakReceiver() {
    if constexpr (Traits::kIsMethod && kNumBound > 0) {
      return kIsWeakPtr<typename FirstType<BoundArgs...>::Type>;
    } else {
      return false;
    }
  }
  static constexpr bool kWeakReceiver = WeakReceiver();
  static constexpr bool kHasOwnQuery = kWeakReceiver || Traits::kIsCallback;

  static_assert(!Traits::kIsMethod || kNumBound > 0,
                "a method needs its receiver as the first bound argument");
  static_assert(!kWeakReceiver || std::is_void_v<R>,
                "a method bound to a WeakPtr may be skipped, so it must "
                "return void");
  static_assert(kOneShot || !Traits::kIsOneShotCallback,
                "a repeatable callback cannot wrap a one-shot callback");

 public:
  using UnboundRunType = typename MakeFunctionType<R, UnboundParams>::Type;

  // Allocates a state holding its first reference.
  template <typename F, typename... Args>
  static BoundStateBase* Create(F&& functor, Args&&... args) {
    return new BoundState(std::forward<F>(functor),
                          std::forward<Args>(args)...);
  }

 private:
  template <typename F, typename... Args>
    requires(!kHasOwnQuery)
  explicit BoundState(F&& functor, Args&&... args)
      : BoundStateBase(GetInvoke(UnboundParams()), &Destroy),
        functor_(std::forward<F>(functor)),
        bound_args_(std::forward<Args>(args)...) {
    CHECK(!IsNull(functor_));
  }

  template <typename F, typename... Args>
    requires(kHasOwnQuery)
  explicit BoundState(F&& functor, Args&&... args)
      : BoundStateBase(GetInvoke(UnboundParams()), &Destroy, &Query),
        functor_(std::forward<F>(functor)),
        bound_args_(std::forward<Args>(args)...) {
    CHECK(!IsNull(functor_));
  }

  ~BoundState() = default;

  template <typename... Unbound>
  static InvokeFuncStorage GetInvoke(TypeList<Unbound...>) {
    R (*invoke)(BoundStateBase*, Unbound&&...) = &Invoke<Unbound...>;
    return reinterpret_cast<InvokeFuncStorage>(invoke);
  }

  template <typename... Unbound>
  static R Invoke(BoundStateBase* base, Unbound&&... unbound) {
    BoundState* self = static_cast<BoundState*>(base);
    if constexpr (Traits::kIsMethod) {
      return self->CallMethod(
          std::make_index_sequence<(kNumBound > 0 ? kNumBound - 1 : 0)>(),
          std::forward<Unbound>(unbound)...);
    } else {
      return self->Call(std::make_index_sequence<kNumBound>(),
                        std::forward<Unbound>(unbound)...);
    }
  }

  template <size_t... I, typename... Unbound>
  R Call(std::index_sequence<I...>, Unbound&&... unbound) {
    return Traits::Invoke(PassFunctor(), PassBound<I>()...,
                          std::forward<Unbound>(unbound)...);
  }

  template <size_t... I, typename... Unbound>
  R CallMethod(std::index_sequence<I...>, Unbound&&... unbound) {
    auto* receiver = UnwrapReceiver(std::get<0>(bound_args_));
    if constexpr (kWeakReceiver) {
      if (receiver == nullptr) return;
    }
    return Traits::Invoke(functor_, receiver, PassBound<I + 1>()...,
                          std::forward<Unbound>(unbound)...);
  }

  decltype(auto) PassFunctor() {
    if constexpr (kOneShot) {
      return std::move(functor_);
    } else {
      return (functor_);
    }
  }

  template <size_t I>
  decltype(auto) PassBound() {
    if constexpr (kOneShot) {
      return std::move(std::get<I>(bound_args_));
    } else {
      return (std::get<I>(bound_args_));
    }
  }

  static bool Query(const BoundStateBase* base, CancellationQueryMode mode) {
    const BoundState* self = static_cast<const BoundState*>(base);
    if constexpr (kWeakReceiver) {
      const auto& receiver = std::get<0>(self->bound_args_);
      switch (mode) {
        case CancellationQueryMode::kIsCancelled:
          return !receiver;
        case CancellationQueryMode::kIsPossiblyValid:
          return receiver.IsValidAnySequence();
      }
    } else if constexpr (Traits::kIsCallback) {
      switch (mode) {
        case CancellationQueryMode::kIsCancelled:
          return self->functor_.IsCancelled();
        case CancellationQueryMode::kIsPossiblyValid:
          return self->functor_.IsPossiblyValid();
      }
    }
    return false;
  }

  static void Destroy(const BoundStateBase* base) {
    delete static_cast<const BoundState*>(base);
  }

  Functor functor_;
  std::tuple<BoundArgs...> bound_args_;
};

}  // namespace internal
}  // namespace kelmbase

#endif  // AGENT_BASE_FUNCTIONAL_BIND_INTERNAL_H_

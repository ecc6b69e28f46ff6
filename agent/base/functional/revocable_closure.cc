#include "agent/base/functional/revocable_closure.h"

#include <utility>

namespace kelmbase {

class RevocableOneShotClosure::ForwarderState final
    : public internal::BoundStateBase {
 public:
  explicit ForwarderState(WeakPtr<RevocableOneShotClosure> wrapper)
      : BoundStateBase(reinterpret_cast<InvokeFuncStorage>(&Invoke), &Destroy,
                       &RevocableOneShotClosure::ForwarderIsCancelled),
        wrapper_(std::move(wrapper)) {}

  const WeakPtr<RevocableOneShotClosure>& wrapper() const { return wrapper_; }

 private:
  ~ForwarderState() = default;

  // Running a forwarder whose wrapper is gone or revoked does nothing.
  static void Invoke(internal::BoundStateBase* base) {
    RevocableOneShotClosure* wrapper =
        static_cast<ForwarderState*>(base)->wrapper_.get();
    if (wrapper != nullptr) wrapper->RunWrapped();
  }

  static void Destroy(const internal::BoundStateBase* base) {
    delete static_cast<const ForwarderState*>(base);
  }

  WeakPtr<RevocableOneShotClosure> wrapper_;
};

RevocableOneShotClosure::RevocableOneShotClosure() = default;

RevocableOneShotClosure::RevocableOneShotClosure(OneShotClosure closure)
    : closure_(std::move(closure)) {}

RevocableOneShotClosure::~RevocableOneShotClosure() = default;

OneShotClosure RevocableOneShotClosure::MakeForwarder() {
  if (closure_.is_null()) return OneShotClosure();
  return OneShotClosure(new ForwarderState(weak_factory_.GetWeakPtr()));
}

void RevocableOneShotClosure::Revoke() {
  weak_factory_.InvalidateWeakPtrs();
  closure_.Reset();
}

void RevocableOneShotClosure::RunWrapped() {
  weak_factory_.InvalidateWeakPtrs();
  if (closure_.is_null()) return;
  // Run from a local: the closure may destroy the wrapper.
  OneShotClosure closure = std::move(closure_);
  std::move(closure).Run();
}

// static
bool RevocableOneShotClosure::ForwarderIsCancelled(
    const internal::BoundStateBase* forwarder,
    internal::BoundStateBase::CancellationQueryMode mode) {
  const WeakPtr<RevocableOneShotClosure>& wrapper =
      static_cast<const ForwarderState*>(forwarder)->wrapper();
  switch (mode) {
    case internal::BoundStateBase::CancellationQueryMode::kIsCancelled:
      return !wrapper;
    case internal::BoundStateBase::CancellationQueryMode::kIsPossiblyValid:
      return wrapper.IsValidAnySequence();
  }
  return false;
}

}  // namespace kelmbase

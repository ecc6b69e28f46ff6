#include "agent/base/functional/revocable_closure.h"

#include <utility>

#include "agent/base/functional/bind.h"

namespace kelmbase {

RevocableOneShotClosure::RevocableOneShotClosure() = default;

RevocableOneShotClosure::RevocableOneShotClosure(OneShotClosure closure)
    : closure_(std::move(closure)) {}

RevocableOneShotClosure::~RevocableOneShotClosure() = default;

OneShotClosure RevocableOneShotClosure::MakeForwarder() {
  if (closure_.is_null()) return OneShotClosure();
  // A method bound to a weak receiver: running it after the wrapper's
  // pointers were voided does nothing, and the forwarder reports itself
  // cancelled exactly then (or may-still-be-valid through the weak
  // reference's any-sequence test).
  return BindOneShot(&RevocableOneShotClosure::RunWrapped,
                     weak_factory_.GetWeakPtr());
}

void RevocableOneShotClosure::Revoke() {
  weak_factory_.InvalidateWeakPtrs();
  closure_.Reset();
}

void RevocableOneShotClosure::RunWrapped() {
  weak_factory_.InvalidateWeakPtrs();
  OneShotClosure closure = std::move(closure_);
  std::move(closure).Run();
}

}  // namespace kelmbase

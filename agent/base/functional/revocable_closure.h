#ifndef AGENT_BASE_FUNCTIONAL_REVOCABLE_CLOSURE_H_
#define AGENT_BASE_FUNCTIONAL_REVOCABLE_CLOSURE_H_

#include "agent/base/functional/callback.h"
#include "agent/base/functional/callback_internal.h"
#include "agent/base/memory/weak_ptr.h"

namespace kelmbase {

// Wraps a closure so that it can be handed out (e.g. posted as a delayed
// task) and still be taken back. The wrapper hands out forwarders: closures
// that run the wrapped closure through a weak pointer to the wrapper. The
// wrapped closure runs at most once, whichever forwarder runs first, and
// never after the wrapper is revoked or destroyed; the other forwarders then
// do nothing and report IsCancelled().
//
// Use the wrapper and run its forwarders on one sequence.
class RevocableOneShotClosure {
 public:
  // Wraps nothing: MakeForwarder() gives null closures.
  RevocableOneShotClosure();
  explicit RevocableOneShotClosure(OneShotClosure closure);
  RevocableOneShotClosure(const RevocableOneShotClosure&) = delete;
  RevocableOneShotClosure& operator=(const RevocableOneShotClosure&) = delete;
  // Revokes every forwarder and destroys the wrapped closure unrun.
  ~RevocableOneShotClosure();

  // A closure that runs the wrapped one (see the class comment); a null
  // closure when nothing is wrapped.
  OneShotClosure MakeForwarder();

  // Turns every forwarder made so far into a no-op and destroys the
  // wrapped closure unrun; later forwarders are null.
  void Revoke();

  // What a forwarder runs: voids every forwarder, then runs the wrapped
  // closure, leaving the wrapper empty. Does nothing when nothing is
  // wrapped.
  void RunWrapped();

  // The cancellation query of a forwarder's bound state. kIsCancelled: true
  // unless the forwarder's weak pointer to the wrapper is valid and not
  // null. kIsPossiblyValid: the weak pointer's any-sequence validity test.
  // Any other mode: false.
  static bool ForwarderIsCancelled(
      const internal::BoundStateBase* forwarder,
      internal::BoundStateBase::CancellationQueryMode mode);

 private:
  // The bound state of a forwarder: a weak pointer to the wrapper.
  class ForwarderState;

  OneShotClosure closure_;
  WeakPtrFactory<RevocableOneShotClosure> weak_factory_{this};
};

}  // namespace kelmbase

#endif  // AGENT_BASE_FUNCTIONAL_REVOCABLE_CLOSURE_H_

#ifndef AGENT_BASE_FUNCTIONAL_CALLBACK_FORWARD_H_
#define AGENT_BASE_FUNCTIONAL_CALLBACK_FORWARD_H_

// Declarations for headers that only name callback types.

namespace kelmbase {

template <typename Signature>
class OneShotCallback;

template <typename Signature>
class RepeatableCallback;

// The unit of work posted to task runners.
using OneShotClosure = OneShotCallback<void()>;

}  // namespace kelmbase

#endif  // AGENT_BASE_FUNCTIONAL_CALLBACK_FORWARD_H_

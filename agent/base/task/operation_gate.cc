#include "agent/base/task/operation_gate.h"

#include <utility>

namespace kelmbase {
namespace internal {

OperationGate::Token::Token(Token&& other)
    : gate_(std::exchange(other.gate_, nullptr)) {}

OperationGate::Token& OperationGate::Token::operator=(Token&& other) {
  if (this != &other) {
    if (gate_ != nullptr)
      gate_->End(1);
    gate_ = std::exchange(other.gate_, nullptr);
  }
  return *this;
}

OperationGate::Token::~Token() {
  if (gate_ != nullptr)
    gate_->End(1);
}

OperationGate::OperationGate()
    : shutdown_event_(WaitableEvent::ResetPolicy::kManual,
                      WaitableEvent::InitialState::kNotSignaled) {}

OperationGate::~OperationGate() = default;

bool OperationGate::StartAccepting() {
  const uint32_t before =
      state_.fetch_or(kAccepting, std::memory_order_release);
  // Attempts made before the gate opened were counted but refused; take
  // them back out.
  const uint32_t refused = before & kCountMask;
  if (refused != 0) {
    const uint32_t before_refund =
        state_.fetch_sub(refused, std::memory_order_release);
    if ((before_refund & kShuttingDown) != 0 &&
        (before_refund & kCountMask) == refused) {
      shutdown_event_.Signal();
    }
  }
  return refused != 0;
}

OperationGate::Token OperationGate::TryBegin() {
  const uint32_t before = state_.fetch_add(1, std::memory_order_acquire);
  if ((before & kShuttingDown) != 0) {
    // Refund the attempt. Whether it was the last one counted must be read
    // from this subtraction itself: other operations may have ended since
    // the increment, and a shutdown may be waiting for this very refund.
    const uint32_t before_refund =
        state_.fetch_sub(1, std::memory_order_release);
    if ((before_refund & ~kAccepting) == (kShuttingDown | 1u))
      shutdown_event_.Signal();
    return Token();
  }
  if ((before & kAccepting) != 0)
    return Token(this);
  // Not accepting yet: the attempt stays counted until StartAccepting or
  // the shutdown takes it back out.
  return Token();
}

void OperationGate::End(uint32_t n) {
  const uint32_t before = state_.fetch_sub(n, std::memory_order_release);
  if ((before & kShuttingDown) != 0 && (before & kCountMask) == n)
    shutdown_event_.Signal();
}

void OperationGate::ShutdownAndWaitForZero() {
  const uint32_t before =
      state_.fetch_or(kShuttingDown, std::memory_order_acquire);
  if ((before & kShuttingDown) != 0)
    return;
  if ((before & kAccepting) != 0) {
    if ((before & kCountMask) != 0)
      shutdown_event_.Wait();
    return;
  }
  const uint32_t refused = before & kCountMask;
  if (refused != 0) {
    const uint32_t before_refund =
        state_.fetch_sub(refused, std::memory_order_release);
    if ((before_refund & kCountMask) == refused)
      shutdown_event_.Signal();
  }
}

}  // namespace internal
}  // namespace kelmbase

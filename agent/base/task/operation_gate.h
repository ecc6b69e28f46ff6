#ifndef AGENT_BASE_TASK_OPERATION_GATE_H_
#define AGENT_BASE_TASK_OPERATION_GATE_H_

#include <atomic>
#include <cstdint>

#include "agent/base/synchronization/waitable_event.h"

namespace kelmbase {
namespace internal {

// The gate a task queue puts in front of posting, so that posting stops
// cleanly at shutdown. Operations are refused until StartAccepting and again
// after ShutdownAndWaitForZero, which waits for every operation already
// begun to end. Begin and end are lock-free; any thread may use the gate.
class OperationGate {
 public:
  // One begun operation; ends it (End(1)) when destroyed. Null (false) when
  // the gate refused the operation. Move-only.
  class Token {
   public:
    Token() = default;
    Token(Token&& other);
    Token& operator=(Token&& other);
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;
    ~Token();

    explicit operator bool() const { return gate_ != nullptr; }

   private:
    friend class OperationGate;
    explicit Token(OperationGate* gate) : gate_(gate) {}

    OperationGate* gate_ = nullptr;
  };

  OperationGate();
  OperationGate(const OperationGate&) = delete;
  OperationGate& operator=(const OperationGate&) = delete;
  ~OperationGate();

  // Opens the gate. Returns true when attempts had been refused before.
  bool StartAccepting();

  // Begins an operation: a live token while the gate is open, a null one
  // before it opens and after shutdown.
  Token TryBegin();

  // Ends `n` begun operations.
  void End(uint32_t n);

  // Closes the gate for good and waits until every begun operation ended.
  void ShutdownAndWaitForZero();

 private:
  // State word: bit 31 shutting down, bit 30 accepting, bits 0-29 the
  // operations counted.
  static constexpr uint32_t kShuttingDown = 0x80000000u;
  static constexpr uint32_t kAccepting = 0x40000000u;
  static constexpr uint32_t kCountMask = 0x3FFFFFFFu;

  std::atomic<uint32_t> state_{0};
  // Signalled when shutting down and the count reaches zero.
  WaitableEvent shutdown_event_;
};

}  // namespace internal
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_OPERATION_GATE_H_

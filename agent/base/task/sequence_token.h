#ifndef AGENT_BASE_TASK_SEQUENCE_TOKEN_H_
#define AGENT_BASE_TASK_SEQUENCE_TOKEN_H_

#include <cstdint>

namespace kelmbase {

// Identifies a sequence; -1 is the invalid token.
class SequenceToken {
 public:
  // The invalid token.
  SequenceToken() = default;

  // A token no other call returns.
  static SequenceToken Create();

  // The token of the sequence running on this thread; invalid when none is
  // set (always, in this program).
  static SequenceToken GetForCurrentThread();

  // Equal only when both are valid and the same.
  bool operator==(const SequenceToken& other) const;
  // Different tokens, or an invalid left-hand token.
  bool operator!=(const SequenceToken& other) const;

  bool IsValid() const { return token_ != kInvalidToken; }
  int32_t ToInternalValue() const { return token_; }

 private:
  friend class ScopedSetSequenceTokenForCurrentThread;
  static constexpr int32_t kInvalidToken = -1;

  explicit SequenceToken(int32_t token) : token_(token) {}

  int32_t token_ = kInvalidToken;
};

// Identifies one run of a task; -1 is the invalid token.
class TaskToken {
 public:
  // The invalid token.
  TaskToken() = default;

  // The token of the task running on this thread; invalid when none is set
  // (always, in this program).
  static TaskToken GetForCurrentThread();

  // Equal only when both are valid and the same.
  bool operator==(const TaskToken& other) const;
  // Different tokens, or an invalid left-hand token.
  bool operator!=(const TaskToken& other) const;

  bool IsValid() const { return token_ != kInvalidToken; }

 private:
  friend class ScopedSetSequenceTokenForCurrentThread;
  static constexpr int32_t kInvalidToken = -1;

  // A token no other call returns.
  static TaskToken Create();
  explicit TaskToken(int32_t token) : token_(token) {}

  int32_t token_ = kInvalidToken;
};

// For its lifetime, makes `sequence_token` the thread's current sequence
// token and a fresh token the thread's current task token. Does not nest.
class ScopedSetSequenceTokenForCurrentThread {
 public:
  explicit ScopedSetSequenceTokenForCurrentThread(
      const SequenceToken& sequence_token);
  ScopedSetSequenceTokenForCurrentThread(
      const ScopedSetSequenceTokenForCurrentThread&) = delete;
  ScopedSetSequenceTokenForCurrentThread& operator=(
      const ScopedSetSequenceTokenForCurrentThread&) = delete;
  ~ScopedSetSequenceTokenForCurrentThread();

 private:
  const SequenceToken sequence_token_;
  const TaskToken task_token_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_TOKEN_H_

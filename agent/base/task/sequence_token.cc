#include "agent/base/task/sequence_token.h"

#include <atomic>

#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {

namespace {

std::atomic<int32_t> g_sequence_token_generator{0};
std::atomic<int32_t> g_task_token_generator{0};

ThreadLocalStorage::Slot& CurrentSequenceTokenSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

ThreadLocalStorage::Slot& CurrentTaskTokenSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

}  // namespace

// static
SequenceToken SequenceToken::Create() {
  return SequenceToken(
      g_sequence_token_generator.fetch_add(1, std::memory_order_relaxed));
}

// static
SequenceToken SequenceToken::GetForCurrentThread() {
  const auto* current =
      static_cast<const SequenceToken*>(CurrentSequenceTokenSlot().Get());
  return current != nullptr ? *current : SequenceToken();
}

bool SequenceToken::operator==(const SequenceToken& other) const {
  return token_ == other.token_ && IsValid();
}

bool SequenceToken::operator!=(const SequenceToken& other) const {
  return token_ != other.token_ || !IsValid();
}

// static
TaskToken TaskToken::Create() {
  return TaskToken(
      g_task_token_generator.fetch_add(1, std::memory_order_relaxed));
}

// static
TaskToken TaskToken::GetForCurrentThread() {
  const auto* current =
      static_cast<const TaskToken*>(CurrentTaskTokenSlot().Get());
  return current != nullptr ? *current : TaskToken();
}

bool TaskToken::operator==(const TaskToken& other) const {
  return token_ == other.token_ && IsValid();
}

bool TaskToken::operator!=(const TaskToken& other) const {
  return token_ != other.token_ || !IsValid();
}

ScopedSetSequenceTokenForCurrentThread::ScopedSetSequenceTokenForCurrentThread(
    const SequenceToken& sequence_token)
    : sequence_token_(sequence_token), task_token_(TaskToken::Create()) {
  CurrentSequenceTokenSlot().Set(const_cast<SequenceToken*>(&sequence_token_));
  CurrentTaskTokenSlot().Set(const_cast<TaskToken*>(&task_token_));
}

ScopedSetSequenceTokenForCurrentThread::
    ~ScopedSetSequenceTokenForCurrentThread() {
  CurrentSequenceTokenSlot().Set(nullptr);
  CurrentTaskTokenSlot().Set(nullptr);
}

}  // namespace kelmbase

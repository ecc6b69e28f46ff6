#include "agent/base/task/current_thread.h"

#include "agent/base/message_pump/message_pump_type.h"
#include "agent/base/task/sequence_manager/sequence_manager_impl.h"
#include "logging/check.h"

namespace kelmbase {

// static
CurrentThread CurrentThread::Get() {
  return CurrentThread(
      sequence_manager::internal::GetCurrentSequenceManagerImpl());
}

// static
bool CurrentThread::IsSet() {
  return sequence_manager::internal::GetCurrentSequenceManagerImpl() !=
         nullptr;
}

// static
bool CurrentThread::IsIoThread() {
  sequence_manager::internal::SequenceManagerImpl* const current =
      sequence_manager::internal::GetCurrentSequenceManagerImpl();
  return current != nullptr && current->IsType(MessagePumpType::kIo);
}

void CurrentThread::AddDestructionObserver(
    DestructionObserver* destruction_observer) {
  CHECK(current_);
  current_->AddDestructionObserver(destruction_observer);
}

void CurrentThread::RemoveDestructionObserver(
    DestructionObserver* destruction_observer) {
  CHECK(current_);
  current_->RemoveDestructionObserver(destruction_observer);
}

}  // namespace kelmbase

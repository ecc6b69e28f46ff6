#include "agent/base/task/thread_task_executor.h"

#include <utility>

#include "agent/base/message_pump/message_pump.h"

namespace kelmbase {

ThreadTaskExecutor::ThreadTaskExecutor(MessagePumpType type)
    : sequence_manager_(sequence_manager::CreateUnboundSequenceManager(
          sequence_manager::SequenceManager::Settings::Builder()
              .SetMessagePumpType(type)
              .Build())),
      default_task_queue_(sequence_manager_->CreateTaskQueue(
          sequence_manager::TaskQueue::Spec("default_tq"))),
      type_(type) {
  std::unique_ptr<MessagePump> pump = MessagePump::Create(type);
  simple_task_executor_.emplace(default_task_queue_->task_runner());
  sequence_manager_->SetDefaultTaskRunner(default_task_queue_->task_runner());
  sequence_manager_->BindToMessagePump(std::move(pump));
}

ThreadTaskExecutor::~ThreadTaskExecutor() {
  simple_task_executor_.reset();
  default_task_queue_ = nullptr;
  // `sequence_manager_` goes last, with its controller and pump.
}

const scoped_refptr<SingleThreadTaskRunner>& ThreadTaskExecutor::task_runner()
    const {
  return default_task_queue_->task_runner();
}

}  // namespace kelmbase

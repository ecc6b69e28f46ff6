#ifndef AGENT_BASE_TASK_THREAD_TASK_EXECUTOR_H_
#define AGENT_BASE_TASK_THREAD_TASK_EXECUTOR_H_

#include <memory>
#include <optional>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/message_pump/message_pump_type.h"
#include "agent/base/task/sequence_manager/sequence_manager.h"
#include "agent/base/task/sequence_manager/task_queue.h"
#include "agent/base/task/simple_task_executor.h"
#include "agent/base/task/single_thread_task_runner.h"

namespace kelmbase {

// Gives the calling thread a sequence manager with one queue "default_tq",
// a message pump of the given type and the thread's runner handle, without
// starting a thread. The thread runs the tasks only inside a RunLoop it
// runs itself; without one they wait.
//
// Threads: made, used and destroyed on one thread (posting to its runner
// from any thread). Destroying it destroys queued tasks unrun, restores the
// thread's previous executor and removes the runner handle.
class ThreadTaskExecutor {
 public:
  explicit ThreadTaskExecutor(MessagePumpType type = MessagePumpType::kDefault);
  ThreadTaskExecutor(const ThreadTaskExecutor&) = delete;
  ThreadTaskExecutor& operator=(const ThreadTaskExecutor&) = delete;
  ~ThreadTaskExecutor();

  const scoped_refptr<SingleThreadTaskRunner>& task_runner() const;
  MessagePumpType type() const { return type_; }
  sequence_manager::SequenceManager* sequence_manager() const {
    return sequence_manager_.get();
  }

 private:
  const std::unique_ptr<sequence_manager::SequenceManager> sequence_manager_;
  scoped_refptr<sequence_manager::TaskQueue> default_task_queue_;
  const MessagePumpType type_;
  std::optional<SimpleTaskExecutor> simple_task_executor_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_THREAD_TASK_EXECUTOR_H_

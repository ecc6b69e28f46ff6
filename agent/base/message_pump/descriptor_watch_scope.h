#ifndef AGENT_BASE_MESSAGE_PUMP_DESCRIPTOR_WATCH_SCOPE_H_
#define AGENT_BASE_MESSAGE_PUMP_DESCRIPTOR_WATCH_SCOPE_H_

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/single_thread_task_runner.h"

namespace kelmbase {

// Marks the calling thread, for the scope's lifetime, as an I/O thread whose
// runner can serve descriptor watches. Lives on the I/O thread's stack.
class DescriptorWatchScope {
 public:
  explicit DescriptorWatchScope(
      scoped_refptr<SingleThreadTaskRunner> io_thread_task_runner);
  DescriptorWatchScope(const DescriptorWatchScope&) = delete;
  DescriptorWatchScope& operator=(const DescriptorWatchScope&) = delete;
  ~DescriptorWatchScope();

  // The calling thread's scope, or null.
  static DescriptorWatchScope* GetCurrent();

  const scoped_refptr<SingleThreadTaskRunner>& io_thread_task_runner() const {
    return io_thread_task_runner_;
  }

 private:
  scoped_refptr<SingleThreadTaskRunner> io_thread_task_runner_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_MESSAGE_PUMP_DESCRIPTOR_WATCH_SCOPE_H_

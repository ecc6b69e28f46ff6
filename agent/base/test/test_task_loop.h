#ifndef AGENT_BASE_TEST_TEST_TASK_LOOP_H_
#define AGENT_BASE_TEST_TEST_TASK_LOOP_H_

#include <memory>
#include <thread>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/message_pump/message_pump.h"
#include "agent/base/run_loop.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/task/task_annotator.h"
#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/test/test_task_runner.h"

namespace kelmbase {
namespace test {

// The part of a thread controller that tests of pumps, run loops and
// runners need: runs one TestTaskRunner's tasks on the calling thread with
// a real message pump, as the thread's run-loop delegate and with the
// thread's task runner handle. Made and destroyed on that thread.
class TestTaskLoop : public MessagePump::Delegate, public RunLoop::Delegate {
 public:
  explicit TestTaskLoop(std::unique_ptr<MessagePump> pump);
  TestTaskLoop(const TestTaskLoop&) = delete;
  TestTaskLoop& operator=(const TestTaskLoop&) = delete;
  // Stops accepting tasks and destroys those still queued, on this thread.
  ~TestTaskLoop() override;

  const scoped_refptr<TestTaskRunner>& task_runner() const {
    return task_runner_;
  }
  MessagePump* pump() const { return pump_.get(); }

  // MessagePump::Delegate: runs at most one ready task per DoWork.
  NextWorkInfo DoWork() override;
  bool DoIdleWork() override;
  void BeforeWait() override {}
  void BeginWorkItem() override {}
  void EndWorkItem() override {}

  // RunLoop::Delegate.
  void Run(bool application_tasks_allowed, Duration timeout) override;
  void Quit() override;
  void EnsureWorkScheduled() override;

 private:
  std::unique_ptr<MessagePump> pump_;
  scoped_refptr<TestTaskRunner> task_runner_;
  std::unique_ptr<ThreadTaskRunnerHandle> handle_;
  TaskAnnotator annotator_;
};

// A worker thread that runs a TestTaskLoop in a RunLoop until stopped.
class TestWorkerThread {
 public:
  explicit TestWorkerThread(MessagePumpType pump_type = MessagePumpType::kDefault);
  TestWorkerThread(const TestWorkerThread&) = delete;
  TestWorkerThread& operator=(const TestWorkerThread&) = delete;
  // Stops and joins the thread.
  ~TestWorkerThread();

  // Starts the thread and returns once its runner exists.
  void Start();
  // Asks the loop to quit once idle and joins the thread. Tasks queued then
  // run first; the rest are destroyed on the worker.
  void Stop();

  // The worker's runner; valid after Start.
  const scoped_refptr<TestTaskRunner>& task_runner() const {
    return task_runner_;
  }

 private:
  const MessagePumpType pump_type_;
  std::thread thread_;
  scoped_refptr<TestTaskRunner> task_runner_;
};

}  // namespace test
}  // namespace kelmbase

#endif  // AGENT_BASE_TEST_TEST_TASK_LOOP_H_

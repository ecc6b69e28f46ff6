#ifndef AGENT_BASE_THREADING_THREAD_H_
#define AGENT_BASE_THREADING_THREAD_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/base/functional/callback.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/message_pump/message_pump.h"
#include "agent/base/message_pump/message_pump_type.h"
#include "agent/base/run_loop.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/task/single_thread_task_runner.h"
#include "agent/base/threading/platform_thread.h"

namespace kelmbase {

namespace sequence_manager {
class TimeDomain;
}  // namespace sequence_manager

// A named worker thread that runs its own sequence manager, with one queue
// "default_tq", over a message pump, until it is stopped. Its runner exists
// as soon as StartConfigured returns, so callers post at once and never
// wait for the thread to start; tasks posted then run in order once it
// runs.
//
//   Thread thread("Worker");
//   thread.Start();
//   thread.GetTaskRunner()->PostTask(FROM_HERE, BindOneShot(&Work));
//   thread.Stop();  // Runs what is queued, then joins.
//
// Threads: Start, StartConfigured, StopSoon, Stop and the destructor on the
// owning thread (the one that started it; checked). GetTaskRunner,
// IsRunning and GetThreadId from any thread. The worker runs Init, Run and
// CleanUp.
// Lifetime: destroying a started joinable Thread stops and joins it. A
// non-joinable Thread, once started, must never be destroyed (its worker
// keeps using it): doing so is fatal.
class Thread : public PlatformThread::Delegate {
 public:
  // What the thread runs its tasks with. Made before the thread starts;
  // bound and destroyed on the thread.
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // Any thread, from creation on.
    virtual scoped_refptr<SingleThreadTaskRunner> GetDefaultTaskRunner() = 0;
    // On the new thread: makes the pump and binds everything to it.
    virtual void BindToCurrentThread(int32_t timer_slack) = 0;
  };

  using MessagePumpFactory = RepeatableCallback<std::unique_ptr<MessagePump>()>;

  struct Options {
    Options() = default;
    Options(MessagePumpType type, size_t size)
        : message_pump_type(type), stack_size(size) {}
    Options(Options&&) = default;
    Options& operator=(Options&&) = default;

    MessagePumpType message_pump_type = MessagePumpType::kDefault;
    // Replaces the built-in sequence-manager delegate when given.
    std::unique_ptr<Delegate> delegate;
    int32_t timer_slack = 0;
    // Handed to the default queue; null: real time.
    sequence_manager::TimeDomain* time_domain = nullptr;
    // Makes the pump on the new thread; overrides the pump type.
    MessagePumpFactory message_pump_factory;
    // 0: the platform default.
    size_t stack_size = 0;
    ThreadPriority priority = ThreadPriority::kNormal;
    bool joinable = true;
  };

  explicit Thread(const std::string& name);
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Stops and joins a started joinable thread.
  ~Thread() override;

  // StartConfigured with the default pump and stack.
  bool Start();
  // Makes the runner and starts the thread. False when the platform thread
  // could not be made (the runner exists, but nothing runs its tasks).
  bool StartConfigured(Options options);

  // The thread's runner (new reference), or null before StartConfigured.
  // After the thread ended, posts to it are refused.
  scoped_refptr<SingleThreadTaskRunner> GetTaskRunner() const;

  // Asks the thread to end once it runs out of work; returns at once.
  void StopSoon();
  // StopSoon, then joins a joinable thread. Every queued immediate or due
  // task runs first; later delayed tasks are destroyed unrun on the
  // worker. A second call returns at once. Not from the worker itself.
  void Stop();

  // Whether the worker is inside its run loop.
  bool IsRunning() const;
  // The worker's kernel id; waits until the worker has started.
  PlatformThreadId GetThreadId() const;

  const std::string& thread_name() const { return name_; }

 protected:
  // On the worker, before the loop and after it.
  virtual void Init() {}
  virtual void Run(RunLoop* run_loop);
  virtual void CleanUp() {}

 private:
  // PlatformThread::Delegate:
  void RunThreadBody() override;

  void QuitWhenIdleOnThread();
  void CheckOnOwningThread() const;

  bool joinable_ = true;
  // Owning thread only.
  bool stopping_ = false;
  mutable Lock running_lock_;
  bool running_ = false;
  // Guards start, stop and the handle.
  Lock thread_lock_;
  PlatformThreadHandle thread_;
  PlatformThreadId id_ = 0;
  mutable WaitableEvent id_event_;
  std::unique_ptr<Delegate> delegate_;
  // Kept from start on: GetTaskRunner never reads the delegate, which the
  // worker destroys when it ends.
  mutable Lock task_runner_lock_;
  scoped_refptr<SingleThreadTaskRunner> task_runner_;
  // The worker's outermost loop while it runs.
  RunLoop* run_loop_ = nullptr;
  int32_t timer_slack_ = 0;
  const std::string name_;
  WaitableEvent start_event_;
  // The thread that started this one (0: never started).
  PlatformThreadId owning_thread_id_ = 0;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_THREADING_THREAD_H_

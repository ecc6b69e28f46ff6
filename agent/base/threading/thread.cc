#include "agent/base/threading/thread.h"

#include <optional>
#include <utility>

#include "agent/base/functional/bind.h"
#include "agent/base/location.h"
#include "agent/base/message_pump/descriptor_watch_scope.h"
#include "agent/base/task/current_thread.h"
#include "agent/base/task/sequence_manager/sequence_manager.h"
#include "agent/base/task/sequence_manager/task_queue.h"
#include "agent/base/task/simple_task_executor.h"
#include "logging/check.h"

namespace kelmbase {

namespace {

// The thread's own sequence manager with its one queue. The queue and its
// runner exist from construction, before the thread runs.
class SequenceManagerThreadDelegate : public Thread::Delegate {
 public:
  SequenceManagerThreadDelegate(
      MessagePumpType message_pump_type,
      OneShotCallback<std::unique_ptr<MessagePump>()> message_pump_factory,
      sequence_manager::TimeDomain* time_domain)
      : sequence_manager_(sequence_manager::CreateUnboundSequenceManager(
            sequence_manager::SequenceManager::Settings::Builder()
                .SetMessagePumpType(message_pump_type)
                .Build())),
        default_task_queue_(sequence_manager_->CreateTaskQueue(
            sequence_manager::TaskQueue::Spec("default_tq")
                .SetTimeDomain(time_domain))),
        message_pump_factory_(std::move(message_pump_factory)) {
    sequence_manager_->SetDefaultTaskRunner(GetDefaultTaskRunner());
  }

  ~SequenceManagerThreadDelegate() override {
    simple_task_executor_.reset();
    message_pump_factory_ = {};
    default_task_queue_ = nullptr;
    // The manager, with its controller and pump, goes last.
  }

  scoped_refptr<SingleThreadTaskRunner> GetDefaultTaskRunner() override {
    return default_task_queue_->task_runner();
  }

  void BindToCurrentThread(int32_t timer_slack) override {
    sequence_manager_->BindToMessagePump(std::move(message_pump_factory_).Run());
    sequence_manager_->SetTimerSlack(timer_slack);
    simple_task_executor_.emplace(GetDefaultTaskRunner());
  }

 private:
  const std::unique_ptr<sequence_manager::SequenceManager> sequence_manager_;
  scoped_refptr<sequence_manager::TaskQueue> default_task_queue_;
  OneShotCallback<std::unique_ptr<MessagePump>()> message_pump_factory_;
  std::optional<SimpleTaskExecutor> simple_task_executor_;
};

}  // namespace

Thread::Thread(const std::string& name)
    : id_event_(WaitableEvent::ResetPolicy::kManual,
                WaitableEvent::InitialState::kNotSignaled),
      name_(name),
      start_event_(WaitableEvent::ResetPolicy::kManual,
                   WaitableEvent::InitialState::kNotSignaled) {}

Thread::~Thread() {
  // The detached worker of a non-joinable thread still uses this object.
  CHECK(joinable_ || owning_thread_id_ == 0)
      << "a started non-joinable Thread must not be destroyed";
  Stop();
}

bool Thread::Start() {
  return StartConfigured(Options(MessagePumpType::kDefault, 0));
}

bool Thread::StartConfigured(Options options) {
  id_event_.Reset();
  id_ = 0;
  // A thread that failed to start, or was stopped without a join, may have
  // left it set; a stale flag would make Stop post no quit.
  stopping_ = false;
  timer_slack_ = options.timer_slack;

  if (options.delegate) {
    delegate_ = std::move(options.delegate);
  } else if (!options.message_pump_factory.is_null()) {
    delegate_ = std::make_unique<SequenceManagerThreadDelegate>(
        MessagePumpType::kCustom,
        BindOneShot(std::move(options.message_pump_factory)),
        options.time_domain);
  } else {
    delegate_ = std::make_unique<SequenceManagerThreadDelegate>(
        options.message_pump_type,
        BindOneShot(
            [](MessagePumpType type) { return MessagePump::Create(type); },
            options.message_pump_type),
        options.time_domain);
  }
  {
    ScopedLock hold(task_runner_lock_);
    task_runner_ = delegate_->GetDefaultTaskRunner();
  }
  owning_thread_id_ = PlatformThread::CurrentId();

  start_event_.Reset();
  bool success;
  {
    ScopedLock hold(thread_lock_);
    if (options.joinable) {
      success = PlatformThread::CreateWithPriority(
          options.stack_size, this, &thread_, options.priority);
    } else {
      success = PlatformThread::CreateNonJoinable(options.stack_size, this,
                                                  options.priority);
    }
  }
  if (!success) {
    owning_thread_id_ = 0;
    return false;
  }
  joinable_ = options.joinable;
  return true;
}

scoped_refptr<SingleThreadTaskRunner> Thread::GetTaskRunner() const {
  ScopedLock hold(task_runner_lock_);
  return task_runner_;
}

void Thread::CheckOnOwningThread() const {
  CHECK(owning_thread_id_ == 0 ||
        owning_thread_id_ == PlatformThread::CurrentId())
      << "Thread \"" << name_ << "\" stopped off its owning thread";
}

void Thread::StopSoon() {
  CheckOnOwningThread();
  if (stopping_) return;
  scoped_refptr<SingleThreadTaskRunner> task_runner = GetTaskRunner();
  if (!task_runner) return;
  stopping_ = true;
  // Unretained: the owner joins (or, non-joinable, never destroys) the
  // thread before this object goes.
  task_runner->PostTask(FROM_HERE,
                        BindOneShot(&Thread::QuitWhenIdleOnThread, this));
}

void Thread::Stop() {
  CheckOnOwningThread();
  ScopedLock hold(thread_lock_);
  StopSoon();
  if (!thread_.is_null()) {
    PlatformThread::Join(thread_);
    thread_ = PlatformThreadHandle();
  }
  // Nothing left to join: the Thread may be started again.
  stopping_ = false;
}

bool Thread::IsRunning() const {
  ScopedLock hold(running_lock_);
  return running_;
}

PlatformThreadId Thread::GetThreadId() const {
  id_event_.Wait();
  return id_;
}

void Thread::Run(RunLoop* run_loop) { run_loop->Run(FROM_HERE); }

void Thread::QuitWhenIdleOnThread() { run_loop_->QuitWhenIdle(); }

void Thread::RunThreadBody() {
  id_ = PlatformThread::CurrentId();
  id_event_.Signal();

  PlatformThread::SetName(name_);
  delegate_->BindToCurrentThread(timer_slack_);
  std::optional<DescriptorWatchScope> descriptor_watch_scope;
  if (CurrentThread::IsIoThread())
    descriptor_watch_scope.emplace(delegate_->GetDefaultTaskRunner());

  Init();
  {
    ScopedLock hold(running_lock_);
    running_ = true;
  }
  start_event_.Signal();

  {
    RunLoop run_loop;
    run_loop_ = &run_loop;
    Run(&run_loop);
    run_loop_ = nullptr;
  }

  {
    ScopedLock hold(running_lock_);
    running_ = false;
  }
  CleanUp();

  // Tasks still queued are destroyed here, on the worker, with the queue.
  delegate_.reset();
  descriptor_watch_scope.reset();
}

}  // namespace kelmbase

#include "agent/base/test/test_task_loop.h"

#include <utility>

#include "agent/base/functional/bind.h"
#include "agent/base/synchronization/waitable_event.h"

namespace kelmbase {
namespace test {

namespace {

// The run loop running on this worker thread, if any.
thread_local RunLoop* g_worker_run_loop = nullptr;

}  // namespace

TestTaskLoop::TestTaskLoop(std::unique_ptr<MessagePump> pump)
    : pump_(std::move(pump)),
      task_runner_(MakeRefCounted<TestTaskRunner>()) {
  task_runner_->BindToCurrentThread();
  MessagePump* const raw_pump = pump_.get();
  task_runner_->SetWakeUp(
      BindRepeatable([](MessagePump* pump) { pump->ScheduleWork(); },
                     raw_pump));
  handle_ = std::make_unique<ThreadTaskRunnerHandle>(task_runner_);
  RunLoop::Delegate::Bind();
}

TestTaskLoop::~TestTaskLoop() {
  task_runner_->SetWakeUp(nullptr);
  task_runner_->SetAcceptingTasks(false);
  task_runner_->DiscardPendingTasks();
  handle_.reset();
}

MessagePump::Delegate::NextWorkInfo TestTaskLoop::DoWork() {
  PendingTask task;
  MonotonicTime next_run_time;
  const MonotonicTime now = MonotonicTime::Now();
  if (task_runner_->TakeReadyTask(now, &task, &next_run_time)) {
    annotator_.RunTask("TestTaskLoop RunTask", task);
    // Look again right away: more tasks may be ready.
    return NextWorkInfo{MonotonicTime(), MonotonicTime()};
  }
  return NextWorkInfo{next_run_time, now};
}

bool TestTaskLoop::DoIdleWork() {
  if (ShouldQuitWhenIdle())
    pump_->Quit();
  return false;
}

void TestTaskLoop::Run(bool application_tasks_allowed, Duration timeout) {
  pump_->Run(this);
}

void TestTaskLoop::Quit() {
  pump_->Quit();
}

void TestTaskLoop::EnsureWorkScheduled() {
  pump_->ScheduleWork();
}

TestWorkerThread::TestWorkerThread(MessagePumpType pump_type)
    : pump_type_(pump_type) {}

TestWorkerThread::~TestWorkerThread() {
  Stop();
}

void TestWorkerThread::Start() {
  WaitableEvent started(WaitableEvent::ResetPolicy::kManual,
                        WaitableEvent::InitialState::kNotSignaled);
  thread_ = std::thread([this, &started] {
    TestTaskLoop loop(MessagePump::Create(pump_type_));
    task_runner_ = loop.task_runner();
    started.Signal();
    RunLoop run_loop;
    g_worker_run_loop = &run_loop;
    run_loop.Run();
    g_worker_run_loop = nullptr;
  });
  started.Wait();
}

void TestWorkerThread::Stop() {
  if (!thread_.joinable())
    return;
  task_runner_->PostTask(FROM_HERE, BindOneShot([] {
                           if (g_worker_run_loop != nullptr)
                             g_worker_run_loop->QuitWhenIdle();
                         }));
  thread_.join();
}

}  // namespace test
}  // namespace kelmbase

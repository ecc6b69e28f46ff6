#include "agent/base/task/sequence_manager/sequence_manager_impl.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/json/json_writer.h"
#include "agent/base/memory/weak_ptr.h"
#include "agent/base/message_pump/message_pump_default.h"
#include "agent/base/task/sequence_manager/task_queue_impl.h"
#include "agent/base/task/sequence_manager/test/sequence_manager_for_test.h"
#include "agent/base/task/sequence_manager/thread_controller_with_message_pump_impl.h"
#include "agent/base/task/sequence_manager/work_queue.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {
namespace {

using Log = std::vector<std::string>;

OneShotClosure Record(Log* log, std::string entry) {
  return BindOneShot(
      [](Log* log, std::string entry) { log->push_back(std::move(entry)); },
      log, std::move(entry));
}

// A receiver whose weak pointers cancel the tasks bound to it.
class Target {
 public:
  void Run() {}
  template <typename T>
  void Take(T) {}
  WeakPtr<Target> GetWeakPtr() { return factory_.GetWeakPtr(); }
  void Cancel() { factory_.InvalidateWeakPtrs(); }

 private:
  WeakPtrFactory<Target> factory_{this};
};

// Posts a delayed task to `runner` when destroyed, as a task's bound
// argument may.
class PostsWhenDestroyed {
 public:
  PostsWhenDestroyed(scoped_refptr<SingleThreadTaskRunner> runner, Log* log)
      : runner_(std::move(runner)), log_(log) {}
  PostsWhenDestroyed(PostsWhenDestroyed&& other) = default;
  ~PostsWhenDestroyed() {
    if (!runner_) return;
    const bool accepted = runner_->PostDelayedTask(
        FROM_HERE, Record(log_, "posted by destructor"),
        Duration::FromMilliseconds(1));
    log_->push_back(accepted ? "destructor post accepted"
                             : "destructor post refused");
  }

 private:
  scoped_refptr<SingleThreadTaskRunner> runner_;
  Log* log_;
};

// Counts its destructions; `ran` is set by the task that receives it.
struct Tracked {
  explicit Tracked(int* destroyed) : destroyed(destroyed) {}
  Tracked(Tracked&& other) : destroyed(other.destroyed) {
    other.destroyed = nullptr;
  }
  ~Tracked() {
    if (destroyed) ++*destroyed;
  }
  int* destroyed;
};

class SequenceManagerTest : public testing::Test {
 public:
  SequenceManagerImpl* manager() { return env_.manager(); }
  FakeThreadController* controller() { return env_.controller(); }
  TestTickClock* clock() { return env_.clock(); }

  scoped_refptr<TaskQueue> CreateQueue(const char* name = "test") {
    return manager()->CreateTaskQueue(TaskQueue::Spec(name));
  }
  int Run() { return controller()->RunUntilIdle(); }
  void Advance(int64_t ms) { clock()->Advance(Duration::FromMilliseconds(ms)); }
  MonotonicTime TimeIn(int64_t ms) {
    return clock()->Now() + Duration::FromMilliseconds(ms);
  }

  SequenceManagerForTest env_;
  Log log_;
};

TEST_F(SequenceManagerTest, EnqueueOrdersStartAtTwoAndAreSharedByAllQueues) {
  EXPECT_EQ(manager()->GetNextSequenceNumber(), 2u);
  EXPECT_EQ(manager()->GetNextSequenceNumber(), 3u);
  scoped_refptr<TaskQueue> a = CreateQueue("a");
  scoped_refptr<TaskQueue> b = CreateQueue("b");
  a->task_runner()->PostTask(FROM_HERE, Record(&log_, "a"));
  b->task_runner()->PostTask(FROM_HERE, Record(&log_, "b"));
  EXPECT_EQ(manager()->GetNextSequenceNumber(), 6u);
}

TEST_F(SequenceManagerTest, ImmediateTasksRunFirstInFirstOut) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  scoped_refptr<SingleThreadTaskRunner> typed = queue->CreateTaskRunner(3);
  for (int i = 0; i < 5; ++i) {
    scoped_refptr<SingleThreadTaskRunner> runner =
        i % 2 ? typed : queue->task_runner();
    EXPECT_TRUE(runner->PostTask(FROM_HERE, Record(&log_, std::to_string(i))));
  }
  EXPECT_EQ(Run(), 5);
  EXPECT_EQ(log_, (Log{"0", "1", "2", "3", "4"}));
}

TEST_F(SequenceManagerTest,
       DelayedTasksRunByRunTimeThenPostingOrderNeverEarly) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  const scoped_refptr<SingleThreadTaskRunner>& runner = queue->task_runner();
  struct Post {
    const char* name;
    int64_t delay_ms;
  };
  const Post posts[] = {{"A", 30}, {"B", 10}, {"C", 20}, {"D", 10}, {"E", -5}};
  for (const Post& post : posts) {
    runner->PostDelayedTask(FROM_HERE, Record(&log_, post.name),
                            Duration::FromMilliseconds(post.delay_ms));
  }
  // A negative delay is a run time in the past: due at once.
  Run();
  EXPECT_EQ(log_, Log{"E"});
  Advance(9);
  EXPECT_EQ(Run(), 0);
  Advance(1);
  Run();
  EXPECT_EQ(log_, (Log{"E", "B", "D"}));
  Advance(20);
  Run();
  EXPECT_EQ(log_, (Log{"E", "B", "D", "C", "A"}));
}

TEST_F(SequenceManagerTest, ImmediateAndDueDelayedTasksRunInEnqueueOrder) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  const scoped_refptr<SingleThreadTaskRunner>& runner = queue->task_runner();

  // The delayed task gets its enqueue order when a selection finds it due,
  // after the immediate task posted before that selection.
  runner->PostDelayedTask(FROM_HERE, Record(&log_, "delayed"),
                          Duration::FromMilliseconds(10));
  Advance(10);
  runner->PostTask(FROM_HERE, Record(&log_, "immediate"));
  Run();
  EXPECT_EQ(log_, (Log{"immediate", "delayed"}));

  // Once a selection has enqueued it, it goes before later posts.
  log_.clear();
  runner->PostDelayedTask(FROM_HERE, Record(&log_, "delayed"),
                          Duration::FromMilliseconds(10));
  runner->PostTask(FROM_HERE, Record(&log_, "first"));
  Advance(10);
  EXPECT_TRUE(controller()->RunOneTask());
  runner->PostTask(FROM_HERE, Record(&log_, "second"));
  Run();
  EXPECT_EQ(log_, (Log{"first", "delayed", "second"}));
}

TEST_F(SequenceManagerTest, DelayedOrderSurvivesTheSequenceNumberWrap) {
  // The next values cross 2^32, where the 32-bit sequence numbers wrap.
  manager()->SetNextSequenceNumberForTesting(0xFFFFFFFFull - 2);
  scoped_refptr<TaskQueue> queue = CreateQueue();
  for (int i = 0; i < 6; ++i) {
    queue->task_runner()->PostDelayedTask(FROM_HERE,
                                          Record(&log_, std::to_string(i)),
                                          Duration::FromMilliseconds(5));
  }
  Advance(5);
  Run();
  EXPECT_EQ(log_, (Log{"0", "1", "2", "3", "4", "5"}));
}

TEST_F(SequenceManagerTest, OnlyTheChangeFromIdleToBusyAsksForWork) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  const scoped_refptr<SingleThreadTaskRunner>& runner = queue->task_runner();
  for (int i = 0; i < 3; ++i) runner->PostTask(FROM_HERE, Record(&log_, "x"));
  EXPECT_EQ(controller()->schedule_work_count(), 1);

  // Busy while its work queue holds tasks: no new request.
  EXPECT_TRUE(controller()->RunOneTask());
  runner->PostTask(FROM_HERE, Record(&log_, "x"));
  EXPECT_EQ(controller()->schedule_work_count(), 1);

  Run();
  runner->PostTask(FROM_HERE, Record(&log_, "x"));
  EXPECT_EQ(controller()->schedule_work_count(), 2);
  EXPECT_EQ(controller()->will_queue_task_count(), 5);
}

TEST_F(SequenceManagerTest, OnlyTheEarliestDelayedTaskSetsTheWakeUp) {
  scoped_refptr<TaskQueue> a = CreateQueue("a");
  scoped_refptr<TaskQueue> b = CreateQueue("b");
  const MonotonicTime t20 = TimeIn(20);
  const MonotonicTime t10 = TimeIn(10);
  a->task_runner()->PostDelayedTask(FROM_HERE, Record(&log_, "a20"),
                                    Duration::FromMilliseconds(20));
  a->task_runner()->PostDelayedTask(FROM_HERE, Record(&log_, "a30"),
                                    Duration::FromMilliseconds(30));
  b->task_runner()->PostDelayedTask(FROM_HERE, Record(&log_, "b40"),
                                    Duration::FromMilliseconds(40));
  b->task_runner()->PostDelayedTask(FROM_HERE, Record(&log_, "b10"),
                                    Duration::FromMilliseconds(10));
  EXPECT_EQ(controller()->delayed_do_work_requests(),
            (std::vector<MonotonicTime>{t20, t10}));

  controller()->clear_delayed_do_work_requests();
  Advance(40);
  Run();
  // Found due in one step, each queue's due tasks move together, queues in
  // the order of their wake-ups.
  EXPECT_EQ(log_, (Log{"b10", "b40", "a20", "a30"}));
  // Nothing delayed is left: the wake-up moves to the largest time.
  ASSERT_FALSE(controller()->delayed_do_work_requests().empty());
  EXPECT_EQ(controller()->delayed_do_work_requests().back(),
            MonotonicTime::Max());
}

TEST_F(SequenceManagerTest, AWakeUpAlreadyDueWhenItBecomesEarliestAsksForWork) {
  scoped_refptr<TaskQueue> a = CreateQueue("a");
  scoped_refptr<TaskQueue> b = CreateQueue("b");
  a->task_runner()->PostDelayedTask(FROM_HERE, Record(&log_, "a"),
                                    Duration::FromMilliseconds(10));
  b->task_runner()->PostDelayedTask(FROM_HERE, Record(&log_, "b"),
                                    Duration::FromMilliseconds(20));
  Advance(25);
  controller()->reset_schedule_work_count();
  a->ShutdownTaskQueue();
  EXPECT_EQ(controller()->schedule_work_count(), 1);
  Run();
  EXPECT_EQ(log_, Log{"b"});
}

TEST_F(SequenceManagerTest, DelayTillNextTask) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  LazyNow lazy_now(clock());
  EXPECT_EQ(manager()->DelayTillNextTask(&lazy_now), Duration::Max());

  queue->task_runner()->PostDelayedTask(FROM_HERE, Record(&log_, "d"),
                                        Duration::FromMilliseconds(15));
  struct Case {
    int64_t advance_ms;
    SelectTaskOption option;
    Duration expected;
  };
  const Case cases[] = {
      {0, SelectTaskOption::kDefault, Duration::FromMilliseconds(15)},
      {0, SelectTaskOption::kSkipDelayedTask, Duration::Max()},
      {5, SelectTaskOption::kDefault, Duration::FromMilliseconds(10)},
      // Due but not yet moved: the domain reports zero.
      {10, SelectTaskOption::kDefault, Duration()},
  };
  for (const Case& c : cases) {
    Advance(c.advance_ms);
    LazyNow now(clock());
    EXPECT_EQ(manager()->DelayTillNextTask(&now, c.option), c.expected);
  }
  queue->task_runner()->PostTask(FROM_HERE, Record(&log_, "i"));
  LazyNow now(clock());
  EXPECT_EQ(manager()->DelayTillNextTask(&now), Duration());
  EXPECT_EQ(
      manager()->DelayTillNextTask(&now, SelectTaskOption::kSkipDelayedTask),
      Duration());
}

TEST_F(SequenceManagerTest, ShutdownDropsPendingTasksAndRefusesLaterPosts) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  scoped_refptr<SingleThreadTaskRunner> runner = queue->task_runner();
  int destroyed = 0;
  runner->PostTask(FROM_HERE,
                   BindOneShot([](Log* log, Tracked) { log->push_back("ran"); },
                               &log_, Tracked(&destroyed)));
  runner->PostDelayedTask(
      FROM_HERE,
      BindOneShot([](Log* log, Tracked) { log->push_back("ran"); }, &log_,
                  Tracked(&destroyed)),
      Duration::FromMilliseconds(5));
  EXPECT_EQ(manager()->GetPendingTaskCount(), 2u);

  queue->ShutdownTaskQueue();
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(manager()->GetPendingTaskCount(), 0u);
  queue->ShutdownTaskQueue();  // Again: nothing.

  EXPECT_FALSE(runner->PostTask(
      FROM_HERE, BindOneShot([](Tracked) {}, Tracked(&destroyed))));
  EXPECT_EQ(destroyed, 3);
  EXPECT_FALSE(queue->task_runner()->PostDelayedTask(
      FROM_HERE, Record(&log_, "late"), Duration::FromMilliseconds(1)));
  Advance(10);
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(log_.empty());
}

TEST_F(SequenceManagerTest, ARefusedPostMayPostAgainWhenItsTaskDies) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  scoped_refptr<SingleThreadTaskRunner> runner = queue->task_runner();
  queue->ShutdownTaskQueue();
  // The refused task's argument posts to the same runner while it dies; a
  // task destroyed under the queue's lock would deadlock here.
  EXPECT_FALSE(runner->PostTask(
      FROM_HERE, BindOneShot([](PostsWhenDestroyed) {},
                             PostsWhenDestroyed(runner, &log_))));
  EXPECT_EQ(log_, Log{"destructor post refused"});
}

TEST_F(SequenceManagerTest, ADroppedHandleLetsTheQueueFinishItsTasks) {
  scoped_refptr<TaskQueue> queue = CreateQueue("dropped");
  scoped_refptr<SingleThreadTaskRunner> runner = queue->task_runner();
  runner->PostTask(FROM_HERE, Record(&log_, "1"));
  runner->PostTask(FROM_HERE, Record(&log_, "2"));
  queue = nullptr;

  Value state = manager()->AsValueWithSelectorResult(nullptr, false);
  ASSERT_EQ(state.FindKey("queues_to_gracefully_shutdown")->GetList().size(),
            1u);
  EXPECT_TRUE(runner->PostTask(FROM_HERE, Record(&log_, "3")));
  EXPECT_EQ(Run(), 3);
  EXPECT_EQ(log_, (Log{"1", "2", "3"}));
  // Found empty after the last task: unregistered and destroyed.
  EXPECT_FALSE(runner->PostTask(FROM_HERE, Record(&log_, "4")));
  state = manager()->AsValueWithSelectorResult(nullptr, false);
  EXPECT_TRUE(
      state.FindKey("queues_to_gracefully_shutdown")->GetList().empty());
  EXPECT_TRUE(state.FindKey("active_queues")->GetList().empty());
  EXPECT_TRUE(state.FindKey("queues_to_delete")->GetList().empty());
}

TEST_F(SequenceManagerTest, NonNestableTasksWaitForTheNestedLoopToEnd) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  scoped_refptr<SingleThreadTaskRunner> runner = queue->task_runner();
  runner->PostTask(
      FROM_HERE,
      BindOneShot(
          [](SequenceManagerTest* test, SingleThreadTaskRunner* runner) {
            Log* log = &test->log_;
            runner->PostNonNestableDelayedTask(FROM_HERE, Record(log, "N1"),
                                               Duration());
            runner->PostTask(FROM_HERE, Record(log, "A"));
            runner->PostNonNestableDelayedTask(FROM_HERE, Record(log, "N2"),
                                               Duration());
            runner->PostTask(FROM_HERE, Record(log, "B"));
            test->controller()->RunNested([test] { test->Run(); });
            log->push_back("nested loop done");
            runner->PostTask(FROM_HERE, Record(log, "C"));
          },
          this, runner.get()));
  Run();
  EXPECT_EQ(log_, (Log{"A", "B", "nested loop done", "N1", "N2", "C"}));
}

TEST_F(SequenceManagerTest, TaskRunnerForCurrentTask) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  scoped_refptr<SingleThreadTaskRunner> typed = queue->CreateTaskRunner(7);
  EXPECT_EQ(manager()->GetTaskRunnerForCurrentTask(), nullptr);
  scoped_refptr<SingleThreadTaskRunner> seen;
  typed->PostTask(FROM_HERE,
                  BindOneShot(
                      [](SequenceManagerImpl* manager,
                         scoped_refptr<SingleThreadTaskRunner>* seen) {
                        *seen = manager->GetTaskRunnerForCurrentTask();
                      },
                      manager(), &seen));
  Run();
  EXPECT_EQ(seen, typed);
  EXPECT_TRUE(typed->RunsTasksInCurrentSequence());
  bool other_thread_answer = true;
  std::thread([&] {
    other_thread_answer = typed->RunsTasksInCurrentSequence();
  }).join();
  EXPECT_FALSE(other_thread_answer);
}

TEST_F(SequenceManagerTest, QuiescenceBit) {
  scoped_refptr<TaskQueue> monitored = manager()->CreateTaskQueue(
      TaskQueue::Spec("monitored").SetShouldMonitorQuiescence(true));
  scoped_refptr<TaskQueue> plain = CreateQueue();
  EXPECT_TRUE(manager()->GetAndClearSystemIsQuiescentBit());
  plain->task_runner()->PostTask(FROM_HERE, Record(&log_, "plain"));
  Run();
  EXPECT_TRUE(manager()->GetAndClearSystemIsQuiescentBit());
  monitored->task_runner()->PostTask(FROM_HERE, Record(&log_, "monitored"));
  Run();
  EXPECT_FALSE(manager()->GetAndClearSystemIsQuiescentBit());
  EXPECT_TRUE(manager()->GetAndClearSystemIsQuiescentBit());
}

TEST_F(SequenceManagerTest, NativeWorkOfMoreUrgentPriorityHoldsQueuesBack) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  queue->task_runner()->PostTask(FROM_HERE, Record(&log_, "task"));
  queue->task_runner()->PostDelayedTask(FROM_HERE, Record(&log_, "later"),
                                        Duration::FromMilliseconds(8));
  std::unique_ptr<NativeWorkHandle> first =
      manager()->CreateNativeWorkHandle(TaskQueue::kVeryHighPriority);
  std::unique_ptr<NativeWorkHandle> second =
      manager()->CreateNativeWorkHandle(TaskQueue::kVeryHighPriority);
  EXPECT_EQ(Run(), 0);
  LazyNow lazy_now(clock());
  EXPECT_EQ(manager()->DelayTillNextTask(&lazy_now),
            Duration::FromMilliseconds(8));
  EXPECT_EQ(*manager()
                 ->AsValueWithSelectorResult(nullptr, false)
                 .FindStringKey("native_work_priority"),
            "very_high");

  controller()->reset_schedule_work_count();
  first.reset();
  EXPECT_EQ(controller()->schedule_work_count(), 0);
  EXPECT_EQ(Run(), 0);
  second.reset();
  EXPECT_EQ(controller()->schedule_work_count(), 1);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(log_, Log{"task"});

  // Less urgent native work does not hold a normal queue back.
  std::unique_ptr<NativeWorkHandle> low =
      manager()->CreateNativeWorkHandle(TaskQueue::kLowPriority);
  Advance(8);
  EXPECT_EQ(Run(), 1);
  // A handle that outlives the manager does nothing when destroyed.
  queue = nullptr;
  env_.DestroyManager();
  low.reset();
}

TEST_F(SequenceManagerTest, CancelledTasksAreSkippedAndDoNotHoldWakeUps) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  const scoped_refptr<SingleThreadTaskRunner>& runner = queue->task_runner();
  Target target;
  runner->PostTask(FROM_HERE, BindOneShot(&Target::Run, target.GetWeakPtr()));
  runner->PostTask(FROM_HERE, Record(&log_, "immediate"));
  runner->PostDelayedTask(FROM_HERE,
                          BindOneShot(&Target::Run, target.GetWeakPtr()),
                          Duration::FromMilliseconds(5));
  runner->PostDelayedTask(FROM_HERE, Record(&log_, "delayed"),
                          Duration::FromMilliseconds(10));
  target.Cancel();
  EXPECT_EQ(Run(), 1);
  Advance(5);
  // The cancelled delayed task at the top is dropped without running and the
  // wake-up moves on to the next task.
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(controller()->delayed_do_work_requests().back(), TimeIn(5));
  Advance(5);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(log_, (Log{"immediate", "delayed"}));
  EXPECT_TRUE(manager()->IsIdle());
}

TEST_F(SequenceManagerTest, RemovingCancelledTasksPullsInIncomingTasks) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  TaskQueueImpl* impl = queue->GetTaskQueueImpl();
  Target target;
  queue->task_runner()->PostTask(
      FROM_HERE, BindOneShot(&Target::Run, target.GetWeakPtr()));
  EXPECT_FALSE(manager()->IsIdle());  // Reloads: the task is in the work queue.
  queue->task_runner()->PostTask(FROM_HERE, Record(&log_, "incoming"));
  EXPECT_EQ(impl->immediate_work_queue()->Size(), 1u);
  target.Cancel();
  EXPECT_TRUE(impl->immediate_work_queue()->RemoveAllCanceledTasksFromFront());
  ASSERT_EQ(impl->immediate_work_queue()->Size(), 1u);
  EXPECT_EQ(impl->immediate_work_queue()->heap_handle(), 0);
  Run();
  EXPECT_EQ(log_, Log{"incoming"});
}

// Destroying a task may run code that posts to the very queue being
// updated. Each place that destroys a task does it after the update.
TEST_F(SequenceManagerTest, DestroyedTasksMayPostToTheirQueue) {
  struct Case {
    const char* name;
    bool delayed;
    // What makes the manager drop the cancelled task.
    void (*drop)(SequenceManagerTest* test);
  };
  const Case cases[] = {
      {"front of a work queue", false,
       [](SequenceManagerTest* test) { test->Run(); }},
      {"top of the delayed heap", true,
       [](SequenceManagerTest* test) {
         test->Advance(5);
         test->Run();
       }},
      {"memory sweep", true,
       [](SequenceManagerTest* test) { test->manager()->ReclaimMemory(); }},
  };
  for (const Case& c : cases) {
    log_.clear();
    scoped_refptr<TaskQueue> queue = CreateQueue();
    scoped_refptr<SingleThreadTaskRunner> runner = queue->task_runner();
    Target target;
    OneShotClosure task =
        BindOneShot(&Target::Take<PostsWhenDestroyed>, target.GetWeakPtr(),
                    PostsWhenDestroyed(runner, &log_));
    if (c.delayed) {
      runner->PostDelayedTask(FROM_HERE, std::move(task),
                              Duration::FromMilliseconds(5));
      runner->PostDelayedTask(FROM_HERE, Record(&log_, "neighbour"),
                              Duration::FromMilliseconds(50));
    } else {
      runner->PostTask(FROM_HERE, std::move(task));
    }
    target.Cancel();
    c.drop(this);
    EXPECT_EQ(log_, Log{"destructor post accepted"}) << c.name;
    Advance(60);
    Run();
    Log expected = {"destructor post accepted", "posted by destructor"};
    if (c.delayed) expected.push_back("neighbour");
    EXPECT_EQ(log_, expected) << c.name;
    queue->ShutdownTaskQueue();
  }
}

TEST_F(SequenceManagerTest, TearDownSurvivesTasksThatPostWhenDestroyed) {
  scoped_refptr<TaskQueue> first = CreateQueue("first");
  scoped_refptr<TaskQueue> second = CreateQueue("second");
  // Each task's argument posts to the other queue as it dies.
  first->task_runner()->PostTask(
      FROM_HERE, BindOneShot([](PostsWhenDestroyed) {},
                             PostsWhenDestroyed(second->task_runner(), &log_)));
  second->task_runner()->PostTask(
      FROM_HERE, BindOneShot([](PostsWhenDestroyed) {},
                             PostsWhenDestroyed(first->task_runner(), &log_)));
  first->task_runner()->PostDelayedTask(
      FROM_HERE,
      BindOneShot([](PostsWhenDestroyed) {},
                  PostsWhenDestroyed(first->task_runner(), &log_)),
      Duration::FromMilliseconds(3));
  env_.DestroyManager();
  // Every post made during tear-down was answered, none ran.
  EXPECT_EQ(log_.size(), 3u);
  for (const std::string& entry : log_)
    EXPECT_NE(entry, "posted by destructor");
  EXPECT_FALSE(first->task_runner()->PostTask(FROM_HERE, Record(&log_, "x")));
}

// A task may hold the last reference to its own queue's handle, so that
// destroying it unregisters or destroys the queue being emptied.
TEST_F(SequenceManagerTest, TasksMayHoldTheLastReferenceToTheirQueue) {
  struct Case {
    const char* name;
    void (*drop)(SequenceManagerTest* test, TaskQueue* queue);
  };
  const Case cases[] = {
      {"queue shut down", [](SequenceManagerTest*,
                             TaskQueue* queue) { queue->ShutdownTaskQueue(); }},
      {"manager destroyed", [](SequenceManagerTest* test,
                               TaskQueue*) { test->env_.DestroyManager(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scoped_refptr<TaskQueue> queue = CreateQueue();
    TaskQueue* raw = queue.get();
    int destroyed = 0;
    scoped_refptr<SingleThreadTaskRunner> runner = queue->task_runner();
    runner->PostTask(FROM_HERE,
                     BindOneShot([](scoped_refptr<TaskQueue>, Tracked) {},
                                 std::move(queue), Tracked(&destroyed)));
    runner->PostDelayedTask(FROM_HERE,
                            BindOneShot([](Tracked) {}, Tracked(&destroyed)),
                            Duration::FromMilliseconds(3));
    c.drop(this, raw);
    EXPECT_EQ(destroyed, 2);
    EXPECT_FALSE(runner->PostTask(FROM_HERE, Record(&log_, "late")));
  }
}

TEST_F(SequenceManagerTest, ADeferredTaskOfAQueueShutDownWhileNestedIsDropped) {
  scoped_refptr<TaskQueue> queue = CreateQueue("doomed");
  scoped_refptr<TaskQueue> other = CreateQueue("other");
  int destroyed = 0;
  other->task_runner()->PostTask(
      FROM_HERE, BindOneShot(
                     [](SequenceManagerTest* test, TaskQueue* queue) {
                       test->controller()->RunNested([test, queue] {
                         test->Run();
                         queue->ShutdownTaskQueue();
                       });
                       test->log_.push_back("outer done");
                     },
                     this, queue.get()));
  // Posted after the outer task: the nested loop reaches it and defers it.
  queue->task_runner()->PostNonNestableDelayedTask(
      FROM_HERE,
      BindOneShot([](Log* log, Tracked) { log->push_back("deferred ran"); },
                  &log_, Tracked(&destroyed)),
      Duration());
  Run();
  EXPECT_EQ(log_, Log{"outer done"});
  EXPECT_EQ(destroyed, 1);
}

// Shuts a queue down when destroyed, as a task's bound argument may.
class ShutsDownWhenDestroyed {
 public:
  explicit ShutsDownWhenDestroyed(scoped_refptr<TaskQueue> queue)
      : queue_(std::move(queue)) {}
  ShutsDownWhenDestroyed(ShutsDownWhenDestroyed&& other) = default;
  ~ShutsDownWhenDestroyed() {
    if (queue_) queue_->ShutdownTaskQueue();
  }

 private:
  scoped_refptr<TaskQueue> queue_;
};

TEST_F(SequenceManagerTest, TearDownSurvivesTasksThatShutQueuesDown) {
  std::vector<scoped_refptr<TaskQueue>> queues;
  for (int i = 0; i < 4; ++i) queues.push_back(CreateQueue());
  // Each queue's pending task shuts the next one down as it dies, whichever
  // order the tear-down takes them in.
  for (size_t i = 0; i < queues.size(); ++i) {
    queues[i]->task_runner()->PostTask(
        FROM_HERE,
        BindOneShot([](ShutsDownWhenDestroyed) {},
                    ShutsDownWhenDestroyed(queues[(i + 1) % queues.size()])));
  }
  env_.DestroyManager();
  for (const scoped_refptr<TaskQueue>& queue : queues)
    EXPECT_FALSE(queue->task_runner()->PostTask(FROM_HERE, Record(&log_, "x")));
  EXPECT_TRUE(log_.empty());
}

TEST_F(SequenceManagerTest, DelayedPostsFromAnotherThreadHopThroughTheQueue) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  scoped_refptr<SingleThreadTaskRunner> runner = queue->task_runner();
  std::thread([&] {
    runner->PostDelayedTask(FROM_HERE, Record(&log_, "due later"),
                            Duration::FromMilliseconds(10));
    runner->PostDelayedTask(FROM_HERE, Record(&log_, "due at hop"),
                            Duration::FromMilliseconds(1));
  }).join();
  EXPECT_EQ(manager()->GetPendingTaskCount(), 2u);  // Two hop tasks.
  Advance(2);
  Run();
  EXPECT_EQ(log_, Log{"due at hop"});
  Advance(8);
  Run();
  EXPECT_EQ(log_, (Log{"due at hop", "due later"}));
}

TEST_F(SequenceManagerTest, ObserversAndTimings) {
  struct Observer : TaskObserver, TaskTimeObserver {
    void WillProcessTask(const PendingTask& task, bool) override {
      log->push_back("will");
    }
    void DidProcessTask(const PendingTask& task) override {
      log->push_back("did");
    }
    void WillProcessTask(MonotonicTime start) override {
      log->push_back("time will");
    }
    void DidProcessTask(MonotonicTime start, MonotonicTime end) override {
      log->push_back("time did " +
                     std::to_string((end - start).InMilliseconds()));
    }
    Log* log;
  } observer;
  observer.log = &log_;
  manager()->AddTaskObserver(&observer);
  manager()->AddTaskTimeObserver(&observer);
  scoped_refptr<TaskQueue> queue = CreateQueue();
  scoped_refptr<TaskQueue> silent = manager()->CreateTaskQueue(
      TaskQueue::Spec("silent").SetShouldNotifyObservers(false));
  scoped_refptr<TaskQueue> handled = CreateQueue("handled");
  handled->GetTaskQueueImpl()->SetOnTaskStartedHandler(BindRepeatable(
      [](Log* log, const Task&, const TaskQueue::TaskTiming& timing) {
        log->push_back(timing.has_wall_time() ? "started timed" : "started");
      },
      &log_));

  queue->task_runner()->PostTask(
      FROM_HERE, BindOneShot(
                     [](SequenceManagerTest* test) {
                       test->log_.push_back("outer");
                       test->Advance(7);
                       test->controller()->RunNested([test] { test->Run(); });
                     },
                     this));
  queue->task_runner()->PostTask(FROM_HERE, Record(&log_, "nested"));
  silent->task_runner()->PostTask(FROM_HERE, Record(&log_, "silent"));
  handled->task_runner()->PostTask(FROM_HERE, Record(&log_, "handled"));
  Run();
  // Inside the nested loop nothing reaches the time observers, a queue
  // that notifies nobody is silent, and a handler still gets its timing.
  EXPECT_EQ(log_, (Log{"will", "time will", "outer", "will", "nested", "did",
                       "silent", "will", "started timed", "handled", "did",
                       "time did 7", "did"}));
  manager()->RemoveTaskObserver(&observer);
  manager()->RemoveTaskTimeObserver(&observer);
}

// Logs each Enter and Leave with the context's name.
class RecordingBlameContext : public trace_event::BlameContext {
 public:
  RecordingBlameContext(const char* name, Log* log) : name_(name), log_(log) {}
  void Enter() override { log_->push_back(std::string("enter ") + name_); }
  void Leave() override { log_->push_back(std::string("leave ") + name_); }

 private:
  const char* const name_;
  Log* const log_;
};

// A queue's blame context is entered before its own task observers hear of
// each of its tasks and left after they heard it has run; other queues'
// tasks, and a queue that notifies nobody, leave it alone. Shutting the
// queue down drops the context: the queue no longer touches it.
TEST_F(SequenceManagerTest, BlameContextIsEnteredAroundEachTaskOfItsQueue) {
  struct QueueObserver : TaskObserver {
    void WillProcessTask(const PendingTask&, bool) override {
      log->push_back("will");
    }
    void DidProcessTask(const PendingTask&) override { log->push_back("did"); }
    Log* log;
  } queue_observer;
  queue_observer.log = &log_;
  RecordingBlameContext blamed_context("blamed", &log_);
  RecordingBlameContext silent_context("silent", &log_);
  scoped_refptr<TaskQueue> blamed = CreateQueue("blamed");
  scoped_refptr<TaskQueue> plain = CreateQueue("plain");
  scoped_refptr<TaskQueue> silent = manager()->CreateTaskQueue(
      TaskQueue::Spec("silent").SetShouldNotifyObservers(false));
  TaskQueueImpl* const blamed_impl = blamed->GetTaskQueueImpl();
  blamed_impl->SetBlameContext(&blamed_context);
  blamed_impl->AddTaskObserver(&queue_observer);
  silent->GetTaskQueueImpl()->SetBlameContext(&silent_context);

  blamed->task_runner()->PostTask(FROM_HERE, Record(&log_, "a"));
  plain->task_runner()->PostTask(FROM_HERE, Record(&log_, "b"));
  silent->task_runner()->PostTask(FROM_HERE, Record(&log_, "c"));
  blamed->task_runner()->PostTask(FROM_HERE, Record(&log_, "d"));
  Run();
  EXPECT_EQ(log_,
            (Log{"enter blamed", "will", "a", "did", "leave blamed", "b", "c",
                 "enter blamed", "will", "d", "did", "leave blamed"}));

  // The shut-down queue lives on until the manager's next clean-up; told of
  // a task meanwhile, it still tells its observers but not the context.
  log_.clear();
  blamed->ShutdownTaskQueue();
  Task task(PostedTask(nullptr, BindOneShot([] {}), FROM_HERE), MonotonicTime(),
            2, 2);
  blamed_impl->NotifyWillProcessTask(task, false);
  blamed_impl->NotifyDidProcessTask(task);
  EXPECT_EQ(log_, (Log{"will", "did"}));
  blamed_impl->RemoveTaskObserver(&queue_observer);
}

TEST_F(SequenceManagerTest, DiagnosticDumps) {
  scoped_refptr<TaskQueue> queue = CreateQueue("dumped");
  queue->task_runner()->PostTask(Location("Poster", "poster.cc", 3, nullptr),
                                 Record(&log_, "i"));
  queue->task_runner()->PostDelayedTask(
      Location("Later", "later.cc", 4, nullptr), Record(&log_, "d"),
      Duration::FromMilliseconds(25));

  Value state = manager()->AsValueWithSelectorResult(nullptr, false);
  EXPECT_EQ(state.FindKey("selected_queue"), nullptr);
  EXPECT_EQ(state.FindKey("work_queue_name"), nullptr);
  EXPECT_EQ(*state.FindStringKey("native_work_priority"), "best_effort");
  EXPECT_EQ(state.FindPath("selector.immediate_starvation_count")->GetInt(), 0);
  const Value& domain = state.FindKey("time_domains")->GetList()[0];
  EXPECT_EQ(*domain.FindStringKey("name"), "RealTimeDomain");
  EXPECT_EQ(domain.FindKey("registered_delay_count")->GetInt(), 1);
  EXPECT_EQ(domain.FindKey("next_delay_ms")->GetDouble(), 25.0);
  const Value& queue_state = state.FindKey("active_queues")->GetList()[0];
  EXPECT_EQ(*queue_state.FindStringKey("name"), "dumped");
  EXPECT_EQ(*queue_state.FindStringKey("priority"), "normal");
  EXPECT_EQ(*queue_state.FindStringKey("time_domain_name"), "RealTimeDomain");
  EXPECT_TRUE(queue_state.FindKey("enabled")->GetBool());
  EXPECT_EQ(
      queue_state.FindKey("any_thread_.immediate_incoming_queuesize")->GetInt(),
      1);
  EXPECT_EQ(queue_state.FindKey("any_thread_.immediate_incoming_queuecapacity")
                ->GetInt(),
            4);
  EXPECT_EQ(queue_state.FindKey("delayed_incoming_queue_size")->GetInt(), 1);
  EXPECT_EQ(queue_state.FindKey("delay_to_next_task_ms")->GetDouble(), 25.0);
  EXPECT_EQ(queue_state.FindKey("immediate_incoming_queue"), nullptr);
  EXPECT_EQ(queue_state.FindKey("current_fence"), nullptr);
  const std::string* id = queue_state.FindStringKey("task_queue_id");
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->substr(0, 2), "0x");

  // Every task is listed in the full description.
  const std::string json = manager()->DescribeAllPendingTasks();
  EXPECT_NE(json.find("\"immediate_incoming_queue\":[{"), std::string::npos);
  EXPECT_NE(json.find("\"posted_from\":\"Poster@poster.cc:3\""),
            std::string::npos);
  EXPECT_NE(json.find("\"posted_from\":\"Later@later.cc:4\""),
            std::string::npos);
  EXPECT_NE(json.find("\"selector\":{\"immediate_starvation_count\":0}"),
            std::string::npos);

  // The selection, when there is one, is named.
  WorkQueue* selected = queue->GetTaskQueueImpl()->immediate_work_queue();
  state = manager()->AsValueWithSelectorResult(selected, false);
  EXPECT_EQ(*state.FindStringKey("selected_queue"), "dumped");
  EXPECT_EQ(*state.FindStringKey("work_queue_name"), "immediate");

  // An unregistered queue says only that.
  TaskQueueImpl* impl = queue->GetTaskQueueImpl();
  queue->ShutdownTaskQueue();
  Value unregistered = impl->AsValue(clock()->Now(), true);
  EXPECT_EQ(unregistered.GetDict().size(), 2u);
  EXPECT_EQ(*unregistered.FindStringKey("name"), "dumped");
  EXPECT_TRUE(unregistered.FindKey("unregistered")->GetBool());
}

TEST_F(SequenceManagerTest, MemoryIsReclaimedWhenIdleAtMostEvery30Seconds) {
  scoped_refptr<TaskQueue> queue = CreateQueue();
  Target target;
  queue->task_runner()->PostDelayedTask(
      FROM_HERE, BindOneShot(&Target::Run, target.GetWeakPtr()),
      Duration::FromSeconds(100));
  target.Cancel();
  // Not yet due for reclaiming: idle time changes nothing.
  Run();
  EXPECT_FALSE(manager()->OnSystemIdle());
  EXPECT_EQ(manager()->GetPendingTaskCount(), 1u);
  // A selection after the deadline schedules it; the next idle time does
  // it, sweeping the cancelled delayed task.
  Advance(30000);
  Run();
  EXPECT_EQ(manager()->GetPendingTaskCount(), 1u);
  EXPECT_FALSE(manager()->OnSystemIdle());
  EXPECT_EQ(manager()->GetPendingTaskCount(), 0u);
  EXPECT_EQ(controller()->delayed_do_work_requests().back(),
            MonotonicTime::Max());
  EXPECT_EQ(manager()
                ->GetMetricRecordingSettings()
                .task_sampling_rate_for_recording_cpu_time,
            0);
}

TEST(SequenceManagerBindingTest, BindingAndTearDownHooks) {
  struct Observer : SequenceManager::Observer,
                    CurrentThread::DestructionObserver {
    void OnBeginNestedRunLoop() override { log.push_back("begin nested"); }
    void OnExitNestedRunLoop() override { log.push_back("exit nested"); }
    void WillDestroyCurrentThread() override { log.push_back("destroyed"); }
    Log log;
  } observer;
  TestTickClock clock;
  auto owned_controller = std::make_unique<FakeThreadController>(&clock);
  FakeThreadController* controller = owned_controller.get();
  SequenceManager::Settings settings =
      SequenceManager::Settings::Builder()
          .SetMessagePumpType(MessagePumpType::kIo)
          .Build();
  settings.clock = &clock;
  std::unique_ptr<SequenceManagerImpl> manager =
      SequenceManagerImpl::CreateUnbound(std::move(owned_controller), settings);
  EXPECT_TRUE(manager->IsType(MessagePumpType::kIo));
  EXPECT_FALSE(manager->IsType(MessagePumpType::kDefault));
  EXPECT_EQ(manager->GetTickClock(), &clock);
  EXPECT_EQ(manager->NowTicks(), clock.Now());

  // Queues exist before binding; their tasks wait for it.
  scoped_refptr<TaskQueue> queue =
      manager->CreateTaskQueue(TaskQueue::Spec("default_tq"));
  manager->SetDefaultTaskRunner(queue->task_runner());
  EXPECT_EQ(manager->GetDefaultTaskRunner(), queue->task_runner());
  EXPECT_TRUE(queue->task_runner()->PostTask(FROM_HERE, BindOneShot([] {})));
  EXPECT_FALSE(queue->task_runner()->RunsTasksInCurrentSequence());
  EXPECT_EQ(GetCurrentSequenceManagerImpl(), nullptr);

  manager->BindToMessagePump(std::make_unique<MessagePumpDefault>());
  EXPECT_EQ(GetCurrentSequenceManagerImpl(), manager.get());
  EXPECT_TRUE(queue->task_runner()->RunsTasksInCurrentSequence());
  EXPECT_TRUE(controller->has_nesting_observer());
  EXPECT_EQ(controller->RunUntilIdle(), 1);

  manager->SetObserver(&observer);
  manager->AddDestructionObserver(&observer);
  controller->RunNested([] {});
  manager.reset();
  EXPECT_EQ(observer.log, (Log{"begin nested", "exit nested", "destroyed"}));
  EXPECT_EQ(GetCurrentSequenceManagerImpl(), nullptr);
  EXPECT_FALSE(queue->task_runner()->PostTask(FROM_HERE, BindOneShot([] {})));
}

// A manager bound without a pump, on a thread that has no run-loop delegate
// (a fresh thread, whatever other tests left on the main one), takes posts
// from its own and other threads, and its controller runs them. Nested
// loops still reach the manager through the controller.
TEST(SequenceManagerBindingTest, BindsOnAThreadWithoutARunLoopDelegate) {
  std::thread([] {
    SequenceManagerForTest env;
    scoped_refptr<TaskQueue> queue =
        env.manager()->CreateTaskQueue(TaskQueue::Spec("default_tq"));
    scoped_refptr<SingleThreadTaskRunner> runner = queue->task_runner();
    EXPECT_TRUE(runner->RunsTasksInCurrentSequence());
    EXPECT_EQ(GetCurrentSequenceManagerImpl(), nullptr) << "no pump";
    EXPECT_TRUE(env.controller()->has_nesting_observer());

    Log log;
    EXPECT_TRUE(runner->PostTask(FROM_HERE, Record(&log, "first")));
    EXPECT_TRUE(runner->PostDelayedTask(FROM_HERE, Record(&log, "delayed"),
                                        Duration::FromMilliseconds(5)));
    bool accepted_from_other_thread = false;
    std::thread([&] {
      accepted_from_other_thread =
          runner->PostTask(FROM_HERE, Record(&log, "from another thread"));
    }).join();
    EXPECT_TRUE(accepted_from_other_thread);
    EXPECT_EQ(env.controller()->schedule_work_count(), 1);

    EXPECT_EQ(env.controller()->RunUntilIdle(), 2);
    env.clock()->Advance(Duration::FromMilliseconds(5));
    EXPECT_EQ(env.controller()->RunUntilIdle(), 1);
    EXPECT_EQ(log, (Log{"first", "from another thread", "delayed"}));
  }).join();
}

// The same over the real controller, which hands nesting observers to the
// thread's run loop: with no delegate on the thread there is none to take
// them. Posting reaches no pump, and tearing down drops the tasks unrun.
TEST(SequenceManagerBindingTest,
     ARealControllerWithoutAPumpBindsOnAThreadWithoutARunLoopDelegate) {
  std::thread([] {
    const SequenceManager::Settings settings;
    std::unique_ptr<SequenceManagerImpl> manager =
        SequenceManagerImpl::CreateUnbound(
            ThreadControllerWithMessagePumpImpl::CreateUnbound(settings),
            settings);
    scoped_refptr<TaskQueue> queue =
        manager->CreateTaskQueue(TaskQueue::Spec("default_tq"));
    scoped_refptr<SingleThreadTaskRunner> runner = queue->task_runner();
    manager->BindToCurrentThread();
    EXPECT_TRUE(runner->RunsTasksInCurrentSequence());
    EXPECT_EQ(manager->controller()->GetBoundMessagePump(), nullptr);

    int destroyed = 0;
    bool ran = false;
    auto task = [](bool* ran, Tracked) { *ran = true; };
    EXPECT_TRUE(runner->PostTask(FROM_HERE,
                                 BindOneShot(task, &ran, Tracked(&destroyed))));
    EXPECT_TRUE(runner->PostDelayedTask(
        FROM_HERE, BindOneShot(task, &ran, Tracked(&destroyed)),
        Duration::FromSeconds(1)));
    std::thread([&] {
      EXPECT_TRUE(runner->PostTask(
          FROM_HERE, BindOneShot(task, &ran, Tracked(&destroyed))));
    }).join();
    EXPECT_EQ(manager->GetPendingTaskCount(), 3u);

    manager.reset();
    EXPECT_EQ(destroyed, 3);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(runner->PostTask(FROM_HERE, BindOneShot([] {})));
  }).join();
}

TEST(AsyncStackCrashKeyTest, FormatsProgramCounterAndFirstBacktraceWord) {
  struct Case {
    uintptr_t program_counter;
    uintptr_t backtrace_word;
    const char* expected;
  };
  const Case cases[] = {
      {0xAB, 0, "0xAB 0x0"},
      {0x1234ABCD, 0xF00D, "0x1234ABCD 0xF00D"},
      {~uintptr_t{0}, ~uintptr_t{0}, "0xFFFFFFFFFFFFFFFF 0xFFFFFFFFFFFFFFFF"},
  };
  for (const Case& c : cases) {
    char buffer[64];
    StringPiece text = FormatAsyncStackCrashKey(
        reinterpret_cast<const void*>(c.program_counter),
        reinterpret_cast<const void*>(c.backtrace_word), buffer);
    EXPECT_EQ(std::string(text.data(), text.size()), c.expected);
    // Right-aligned, ending one byte before the buffer's end.
    EXPECT_EQ(text.data() + text.size(), buffer + 63);
    EXPECT_EQ(buffer[63], '\0');
  }
}

}  // namespace
}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

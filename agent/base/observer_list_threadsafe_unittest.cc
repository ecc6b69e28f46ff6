#include "agent/base/observer_list_threadsafe.h"

#include <atomic>
#include <memory>
#include <string>

#include "agent/base/functional/bind.h"
#include "agent/base/location.h"
#include "agent/base/run_loop.h"
#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/task/thread_task_executor.h"
#include "agent/base/threading/platform_thread.h"
#include "agent/base/threading/thread.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

class Counter {
 public:
  virtual ~Counter() = default;
  virtual void OnAdd(int amount) = 0;
};

class RecordingCounter : public Counter {
 public:
  void OnAdd(int amount) override {
    total_ += amount;
    calls_ += 1;
    thread_ = PlatformThread::CurrentId();
  }
  int total() const { return total_; }
  int calls() const { return calls_; }
  PlatformThreadId thread() const { return thread_; }

 private:
  std::atomic<int> total_{0};
  std::atomic<int> calls_{0};
  std::atomic<PlatformThreadId> thread_{0};
};

void RunUntilIdle() {
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
}

// Runs `task` on `thread` and waits for it.
template <typename Task>
void RunOn(Thread& thread, Task task) {
  WaitableEvent done(WaitableEvent::ResetPolicy::kManual,
                     WaitableEvent::InitialState::kNotSignaled);
  thread.GetTaskRunner()->PostTask(FROM_HERE, BindOneShot(
                                                  [](Task t, WaitableEvent* d) {
                                                    t();
                                                    d->Signal();
                                                  },
                                                  std::move(task), &done));
  done.Wait();
}

TEST(ObserverListThreadSafeTest, EachObserverIsCalledOnItsOwnThread) {
  auto list = MakeRefCounted<ObserverListThreadSafe<Counter>>();
  Thread first("first");
  Thread second("second");
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  RecordingCounter a, b;
  RunOn(first, [&] { EXPECT_FALSE(list->AddObserver(&a)); });
  RunOn(second, [&] { EXPECT_TRUE(list->AddObserver(&b)); });

  list->Notify(FROM_HERE, &Counter::OnAdd, 3);
  first.Stop();
  second.Stop();
  EXPECT_EQ(a.total(), 3);
  EXPECT_EQ(b.total(), 3);
  EXPECT_EQ(a.thread(), first.GetThreadId());
  EXPECT_EQ(b.thread(), second.GetThreadId());
}

TEST(ObserverListThreadSafeTest, RemovalOrReAddingBeforeDeliveryDropsIt) {
  struct Case {
    const char* name;
    bool re_add;
  };
  for (const Case& c : {Case{"removed", false}, Case{"removed and re-added", true}}) {
    SCOPED_TRACE(c.name);
    ThreadTaskExecutor executor;
    auto list = MakeRefCounted<ObserverListThreadSafe<Counter>>();
    RecordingCounter observer;
    list->AddObserver(&observer);
    list->Notify(FROM_HERE, &Counter::OnAdd, 1);
    EXPECT_FALSE(list->RemoveObserver(&observer));
    if (c.re_add) list->AddObserver(&observer);
    RunUntilIdle();
    EXPECT_EQ(observer.calls(), 0);
    // A later notification reaches a re-added observer.
    list->Notify(FROM_HERE, &Counter::OnAdd, 1);
    RunUntilIdle();
    EXPECT_EQ(observer.calls(), c.re_add ? 1 : 0);
    list->RemoveObserver(&observer);
  }
}

TEST(ObserverListThreadSafeTest, RemovingAnUnknownObserverChangesNothing) {
  ThreadTaskExecutor executor;
  auto list = MakeRefCounted<ObserverListThreadSafe<Counter>>();
  RecordingCounter known, unknown;
  list->AddObserver(&known);
  EXPECT_TRUE(list->RemoveObserver(&unknown));
  list->Notify(FROM_HERE, &Counter::OnAdd, 2);
  RunUntilIdle();
  EXPECT_EQ(known.total(), 2);
  EXPECT_FALSE(list->RemoveObserver(&known));
}

// Adds `late` to the list from inside its own notification.
class AddingCounter : public RecordingCounter {
 public:
  AddingCounter(ObserverListThreadSafe<Counter>* list, Counter* late)
      : list_(list), late_(late) {}
  void OnAdd(int amount) override {
    RecordingCounter::OnAdd(amount);
    if (late_) list_->AddObserver(late_);
    late_ = nullptr;
  }

 private:
  ObserverListThreadSafe<Counter>* const list_;
  Counter* late_;
};

TEST(ObserverListThreadSafeTest, AnObserverAddedDuringDeliveryFollowsThePolicy) {
  struct Case {
    ObserverListPolicy policy;
    int expected_late_calls;
  };
  for (const Case& c : {Case{ObserverListPolicy::kAll, 1},
                        Case{ObserverListPolicy::kExistingOnly, 0}}) {
    SCOPED_TRACE(static_cast<int>(c.policy));
    ThreadTaskExecutor executor;
    auto list = MakeRefCounted<ObserverListThreadSafe<Counter>>(c.policy);
    RecordingCounter late;
    AddingCounter adder(list.get(), &late);
    list->AddObserver(&adder);
    list->Notify(FROM_HERE, &Counter::OnAdd, 5);
    RunUntilIdle();
    EXPECT_EQ(adder.calls(), 1);
    EXPECT_EQ(late.calls(), c.expected_late_calls);
    if (c.expected_late_calls) {
      EXPECT_EQ(late.total(), 5);
    }
    list->RemoveObserver(&adder);
    list->RemoveObserver(&late);
  }
}

// An argument whose destruction uses the list (and so takes its lock).
class ListUser {
 public:
  ListUser(ObserverListThreadSafe<Counter>* list, std::atomic<int>* uses)
      : list_(list), uses_(uses) {}
  ListUser(const ListUser& other) : list_(other.list_), uses_(other.uses_) {}
  ~ListUser() {
    RecordingCounter stranger;
    list_->RemoveObserver(&stranger);
    ++*uses_;
  }

 private:
  ObserverListThreadSafe<Counter>* list_;
  std::atomic<int>* uses_;
};

class ArgumentCounter {
 public:
  virtual ~ArgumentCounter() = default;
  virtual void OnArgument(const ListUser& user) = 0;
};

TEST(ObserverListThreadSafeTest, ANotificationRefusedByAStoppedThreadIsDropped) {
  auto list = MakeRefCounted<ObserverListThreadSafe<Counter>>();
  RecordingCounter observer;
  Thread gone("gone");
  ASSERT_TRUE(gone.Start());
  RunOn(gone, [&] { list->AddObserver(&observer); });
  gone.Stop();

  // Refused: dropped without a deadlock, and the list stays usable.
  list->Notify(FROM_HERE, &Counter::OnAdd, 1);
  EXPECT_EQ(observer.calls(), 0);
  EXPECT_FALSE(list->RemoveObserver(&observer));

  std::atomic<int> uses{0};
  auto argument_list = MakeRefCounted<ObserverListThreadSafe<ArgumentCounter>>();
  class Ignoring : public ArgumentCounter {
    void OnArgument(const ListUser&) override {}
  } ignoring;
  Thread gone_too("gone too");
  ASSERT_TRUE(gone_too.Start());
  RunOn(gone_too, [&] { argument_list->AddObserver(&ignoring); });
  gone_too.Stop();
  {
    ListUser user(list.get(), &uses);
    argument_list->Notify(FROM_HERE, &ArgumentCounter::OnArgument, user);
  }
  EXPECT_GE(uses.load(), 2);
  argument_list->RemoveObserver(&ignoring);
}

}  // namespace
}  // namespace kelmbase

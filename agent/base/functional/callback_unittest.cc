#include "agent/base/functional/callback.h"

#include <memory>
#include <thread>
#include <utility>

#include "agent/base/functional/bind.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/threading/platform_thread.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// Records where and whether it was destroyed; bound by value into
// callbacks to observe the bound state's lifetime.
class Tracker : public RefCountedThreadSafe<Tracker> {
 public:
  Tracker() = default;

  int runs = 0;

  void Run() { ++runs; }

 private:
  friend class RefCountedThreadSafe<Tracker>;
  ~Tracker() = default;
};

struct DestructionRecord {
  bool destroyed = false;
  PlatformThreadId thread = 0;
};

// Move-only value that notes its destruction.
class Sentinel {
 public:
  explicit Sentinel(DestructionRecord* record) : record_(record) {}
  Sentinel(Sentinel&& other) noexcept
      : record_(std::exchange(other.record_, nullptr)) {}
  Sentinel& operator=(Sentinel&&) = delete;
  ~Sentinel() {
    if (record_ == nullptr) return;
    record_->destroyed = true;
    record_->thread = PlatformThread::CurrentId();
  }

 private:
  DestructionRecord* record_;
};

void TakeSentinel(const Sentinel&) {}

int Add(int a, int b) { return a + b; }

TEST(OneShotCallbackTest, RunningConsumesTheCallback) {
  OneShotCallback<int(int)> callback = BindOneShot(&Add, 2);
  ASSERT_FALSE(callback.is_null());
  EXPECT_TRUE(static_cast<bool>(callback));
  EXPECT_EQ(5, callback.Run(3));
  EXPECT_TRUE(callback.is_null());
  EXPECT_FALSE(static_cast<bool>(callback));
}

TEST(OneShotCallbackTest, RunAsRvalue) {
  OneShotCallback<int()> callback = BindOneShot(&Add, 2, 8);
  EXPECT_EQ(10, std::move(callback).Run());
  EXPECT_TRUE(callback.is_null());
}

TEST(OneShotCallbackTest, MovingLeavesTheSourceEmpty) {
  OneShotClosure source = BindOneShot([] {});
  OneShotClosure target = std::move(source);
  EXPECT_TRUE(source.is_null());
  EXPECT_FALSE(target.is_null());
}

TEST(OneShotCallbackTest, BoundArgumentsDieAfterTheRun) {
  DestructionRecord record;
  OneShotClosure callback = BindOneShot(&TakeSentinel, Sentinel(&record));
  EXPECT_FALSE(record.destroyed);
  callback.Run();
  EXPECT_TRUE(record.destroyed);
}

TEST(OneShotCallbackTest, DestroyingAnUnrunCallbackDestroysItsArguments) {
  DestructionRecord record;
  {
    OneShotClosure callback = BindOneShot(&TakeSentinel, Sentinel(&record));
    EXPECT_FALSE(record.destroyed);
  }
  EXPECT_TRUE(record.destroyed);
}

TEST(OneShotCallbackTest, ResetDestroysTheState) {
  DestructionRecord record;
  OneShotClosure callback = BindOneShot(&TakeSentinel, Sentinel(&record));
  callback.Reset();
  EXPECT_TRUE(record.destroyed);
  EXPECT_TRUE(callback.is_null());
  callback.Reset();  // Resetting an empty callback is harmless.
}

TEST(OneShotCallbackTest, MoveAssignmentReleasesThePreviousState) {
  DestructionRecord old_record;
  DestructionRecord new_record;
  OneShotClosure callback = BindOneShot(&TakeSentinel, Sentinel(&old_record));
  callback = BindOneShot(&TakeSentinel, Sentinel(&new_record));
  EXPECT_TRUE(old_record.destroyed);
  EXPECT_FALSE(new_record.destroyed);
  callback = nullptr;
  EXPECT_TRUE(new_record.destroyed);
}

TEST(OneShotCallbackTest, EmptyCallbacksAreCancelled) {
  OneShotClosure empty;
  EXPECT_TRUE(empty.is_null());
  EXPECT_TRUE(empty.IsCancelled());
  EXPECT_FALSE(empty.IsPossiblyValid());
  OneShotClosure from_null = nullptr;
  EXPECT_TRUE(from_null.is_null());
}

TEST(OneShotCallbackTest, PlainBindingsAreNeverCancelled) {
  OneShotClosure callback = BindOneShot([] {});
  EXPECT_FALSE(callback.IsCancelled());
  EXPECT_TRUE(callback.IsPossiblyValid());
}

TEST(OneShotCallbackDeathTest, RunningAnEmptyCallbackIsFatal) {
  OneShotClosure callback = BindOneShot([] {});
  callback.Run();
  EXPECT_DEATH(callback.Run(), "Check failed: !is_null\\(\\)");
}

TEST(RepeatableCallbackTest, RunsManyTimesAndStaysIntact) {
  int count = 0;
  RepeatableCallback<void(int)> callback =
      BindRepeatable([](int* total, int step) { *total += step; }, &count);
  callback.Run(1);
  callback.Run(2);
  callback.Run(3);
  EXPECT_EQ(6, count);
  EXPECT_FALSE(callback.is_null());
}

TEST(RepeatableCallbackTest, CopiesShareOneState) {
  DestructionRecord record;
  RepeatableCallback<void()> original =
      BindRepeatable(&TakeSentinel, Sentinel(&record));
  {
    RepeatableCallback<void()> copy = original;
    RepeatableCallback<void()> assigned;
    assigned = copy;
    original.Reset();
    copy.Run();
    EXPECT_FALSE(record.destroyed);
  }
  EXPECT_TRUE(record.destroyed);
}

TEST(RepeatableCallbackTest, CopyAssignmentReleasesThePreviousState) {
  DestructionRecord record;
  RepeatableCallback<void()> a = BindRepeatable(&TakeSentinel, Sentinel(&record));
  RepeatableCallback<void()> b = BindRepeatable([] {});
  a = b;
  EXPECT_TRUE(record.destroyed);
  // Self-assignment keeps the state (through an alias, so that compilers do
  // not flag the deliberate self-assignment).
  RepeatableCallback<void()>& alias = a;
  a = alias;
  a.Run();
}

// The last reference decides where the bound arguments die: here the copy
// on the worker thread outlives the one on the test thread.
TEST(RepeatableCallbackTest, BoundArgumentsDieOnTheLastReleasingThread) {
  DestructionRecord record;
  RepeatableCallback<void()> callback =
      BindRepeatable(&TakeSentinel, Sentinel(&record));
  RepeatableCallback<void()> copy = callback;
  std::thread worker([moved = std::move(copy)]() mutable {
    moved.Run();
    moved.Reset();
  });
  worker.join();
  EXPECT_FALSE(record.destroyed);
  callback.Reset();
  EXPECT_TRUE(record.destroyed);
  EXPECT_EQ(PlatformThread::CurrentId(), record.thread);

  DestructionRecord remote_record;
  OneShotClosure task = BindOneShot(&TakeSentinel, Sentinel(&remote_record));
  PlatformThreadId worker_id = 0;
  std::thread runner([task = std::move(task), &worker_id]() mutable {
    worker_id = PlatformThread::CurrentId();
    task.Run();
  });
  runner.join();
  EXPECT_TRUE(remote_record.destroyed);
  EXPECT_EQ(worker_id, remote_record.thread);
  EXPECT_NE(PlatformThread::CurrentId(), remote_record.thread);
}

TEST(RepeatableCallbackTest, RefCountedReceiverStaysAlive) {
  scoped_refptr<Tracker> tracker = MakeRefCounted<Tracker>();
  RepeatableCallback<void()> callback = BindRepeatable(&Tracker::Run, tracker);
  EXPECT_FALSE(tracker->HasSingleRef());
  Tracker* raw = tracker.get();
  tracker.reset();
  callback.Run();
  callback.Run();
  EXPECT_EQ(2, raw->runs);
}

}  // namespace
}  // namespace kelmbase

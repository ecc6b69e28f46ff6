#include "agent/base/debug/activity_tracker.h"

#include <pthread.h>

#include <climits>
#include <cstring>
#include <memory>
#include <thread>

#include "agent/base/pending_task.h"
#include "agent/base/synchronization/lock.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace debug {
namespace {

const void* Here() { return __builtin_return_address(0); }

TEST(ActivityScopeTest, WithoutGlobalTrackerNothingIsRecorded) {
  ASSERT_EQ(GlobalActivityTracker::Get(), nullptr);
  Lock lock;
  GenericActivityScope generic(Here(), 3, 1, 2);
  LockAcquireActivityScope lock_scope(Here(), &lock);
  EventWaitActivityScope event_scope(Here(), nullptr);
  ThreadJoinActivityScope join_scope(Here(), pthread_self());
  PendingTask task;
  TaskRunActivityScope task_scope(Here(), task);
  const ActivityScope* scopes[] = {&generic, &lock_scope, &event_scope,
                                   &join_scope, &task_scope};
  for (const ActivityScope* scope : scopes) EXPECT_FALSE(scope->IsRecorded());
  EXPECT_EQ(generic.user_data().Set("k", 1, "v", 1), nullptr);
  EXPECT_EQ(lock_scope.user_data().Set("k", 1, "v", 1), nullptr);
}

TEST(ActivityDataTest, InfoAndSequenceWordsUseRawBits) {
  struct Case {
    uint32_t id;
    int32_t info;
    uint64_t data;
  } cases[] = {
      {5, 0, 5},
      {5, 1, 0x0000000100000005ull},
      {0xFFFFFFFF, -1, 0xFFFFFFFFFFFFFFFFull},
      {7, INT_MIN, 0x8000000000000007ull},
      {0, INT_MAX, 0x7FFFFFFF00000000ull},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GenericActivityData(c.id, c.info), c.data) << c.info;
  }
  EXPECT_EQ(TaskRunActivityData(-1), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(TaskRunActivityData(INT_MIN), 0xFFFFFFFF80000000ull);
  EXPECT_EQ(TaskRunActivityData(42), 42u);
}

TEST(ThreadActivityTrackerTest, BlockSizeLimits) {
  alignas(8) static char memory[4096];
  struct Case {
    size_t size;
    bool valid;
    uint32_t capacity;
  } cases[] = {
      {0, false, 0},
      {ThreadActivityTracker::kMinBlockSize - 1, false, 0},
      {ThreadActivityTracker::kMinBlockSize, true, 2},
      {ThreadActivityTracker::kMinBlockSize + 127, true, 2},
      {ThreadActivityTracker::SizeForCapacity(5), true, 5},
  };
  for (const Case& c : cases) {
    memset(memory, 0, sizeof(memory));
    ThreadActivityTracker tracker(memory, c.size);
    EXPECT_EQ(tracker.IsValid(), c.valid) << c.size;
    if (c.valid) {
      EXPECT_EQ(tracker.capacity(), c.capacity) << c.size;
    }
  }
}

TEST(ThreadActivityTrackerTest, OwnedBlocksAreCheckedBeforeUse) {
  alignas(8) static char memory[ThreadActivityTracker::SizeForCapacity(4)];
  memset(memory, 0, sizeof(memory));
  {
    ThreadActivityTracker first(memory, sizeof(memory), 99);
    ASSERT_TRUE(first.IsValid());
    EXPECT_EQ(first.header()->owner.process_id, 99);
    EXPECT_EQ(first.header()->capacity, 4u);
  }
  ThreadActivityTracker again(memory, sizeof(memory));
  EXPECT_TRUE(again.IsValid());
  // Attached with another size, the capacity no longer matches.
  ThreadActivityTracker smaller(memory, ThreadActivityTracker::SizeForCapacity(3));
  EXPECT_FALSE(smaller.IsValid());
  auto* header = reinterpret_cast<ThreadTrackerHeader*>(memory);
  header->thread_name[31] = 'x';
  ThreadActivityTracker unterminated(memory, sizeof(memory));
  EXPECT_FALSE(unterminated.IsValid());
}

class GlobalActivityTrackerTest : public testing::Test {
 protected:
  static constexpr size_t kMemorySize = 64 * 1024;

  void SetUp() override {
    memory_ = std::make_unique<uint64_t[]>(kMemorySize / 8);
    PersistentMemoryAllocator::FormatSegment(memory_.get(), kMemorySize, 0, 1);
    GlobalActivityTracker::CreateWithAllocator(
        std::make_unique<PersistentMemoryAllocator>(memory_.get(), kMemorySize,
                                                    0, false),
        /*stack_depth=*/2, /*process_id=*/0);
  }
  void TearDown() override { GlobalActivityTracker::ReleaseForTesting(); }

  static ThreadActivityTracker* Tracker() {
    return GlobalActivityTracker::Get()->GetTrackerForCurrentThread();
  }

  std::unique_ptr<uint64_t[]> memory_;
};

TEST_F(GlobalActivityTrackerTest, DeeperActivitiesThanRecordsAreCounted) {
  {
    GenericActivityScope outer(Here(), 1, 10, -1);
    ThreadActivityTracker* tracker = Tracker();
    ASSERT_NE(tracker, nullptr);
    const uint32_t changes = tracker->header()->change_count.load();
    {
      GenericActivityScope middle(Here(), 2, 20, 0);
      {
        GenericActivityScope inner(Here(), 3, 30, 0);
        EXPECT_TRUE(outer.IsRecorded());
        EXPECT_TRUE(middle.IsRecorded());
        EXPECT_FALSE(inner.IsRecorded());
        EXPECT_EQ(tracker->header()->depth.load(), 3u);
      }
      EXPECT_EQ(tracker->header()->depth.load(), 2u);
    }
    const ActivityRecord* first = tracker->record(0);
    EXPECT_EQ(first->kind, 0xF1);
    EXPECT_EQ(first->data, 0xFFFFFFFF0000000Aull);
    EXPECT_EQ(first->call_stack[0], 0u);
    EXPECT_NE(first->calling_address, 0u);
    EXPECT_EQ(tracker->record(1)->kind, 0xF2);
    EXPECT_EQ(tracker->header()->change_count.load(), changes + 2);
  }
  EXPECT_EQ(Tracker()->header()->depth.load(), 0u);
}

TEST_F(GlobalActivityTrackerTest, ScopesRecordTheirSubjects) {
  Lock lock;
  {
    // The first scope on a thread makes its tracker.
    EventWaitActivityScope wait(Here(), nullptr);
    ASSERT_TRUE(wait.IsRecorded());
    LockAcquireActivityScope acquire(Here(), &lock);
    ASSERT_TRUE(acquire.IsRecorded());
    EXPECT_EQ(Tracker()->record(0)->kind, 0x30);
    EXPECT_EQ(Tracker()->record(1)->kind, 0x20);
    EXPECT_EQ(Tracker()->record(1)->data, reinterpret_cast<uintptr_t>(&lock));
    // Lock acquisitions get no user-data block.
    EXPECT_EQ(acquire.user_data().Set("k", 1, "v", 1), nullptr);
  }
  PendingTask task;
  task.sequence_num = -2;
  TaskRunActivityScope run(Here(), task);
  EXPECT_EQ(Tracker()->record(0)->kind, 0x10);
  EXPECT_EQ(Tracker()->record(0)->data, 0xFFFFFFFFFFFFFFFEull);
}

TEST_F(GlobalActivityTrackerTest, LockScopeNeverMakesATracker) {
  std::thread thread([] {
    Lock lock;
    LockAcquireActivityScope acquire(Here(), &lock);
    EXPECT_FALSE(acquire.IsRecorded());
    EXPECT_EQ(Tracker(), nullptr);
  });
  thread.join();
  EXPECT_EQ(GlobalActivityTracker::Get()->thread_tracker_count(), 0);
}

TEST_F(GlobalActivityTrackerTest, UserDataLivesInAPooledBlock) {
  PersistentMemoryAllocator::Reference first_ref;
  {
    GenericActivityScope scope(Here(), 0, 1, 0);
    ASSERT_NE(scope.user_data().Set("answer", 1, "42", 2), nullptr);
    const ActivityRecord* record = Tracker()->record(0);
    first_ref = record->user_data_ref;
    ASSERT_NE(first_ref, 0u);
    EXPECT_NE(record->user_data_id, 0u);
    // What another reader of the block would find.
    const void* block = GlobalActivityTracker::Get()->allocator()->GetAsObject(
        first_ref, GlobalActivityTracker::kTypeIdUserData,
        GlobalActivityTracker::kUserDataSize);
    ASSERT_NE(block, nullptr);
    ActivityUserData reader(const_cast<void*>(block),
                            GlobalActivityTracker::kUserDataSize);
    ASSERT_EQ(reader.values().count("answer"), 1u);
    EXPECT_EQ(std::string(reader.values().at("answer").memory, 2), "42");
  }
  // The block went back to the pool, cleared, and is handed out again.
  GenericActivityScope next(Here(), 0, 2, 0);
  next.user_data().Set("x", 1, "y", 1);
  EXPECT_EQ(Tracker()->record(0)->user_data_ref, first_ref);
  ActivityUserData& data = next.user_data();
  EXPECT_EQ(data.values().count("answer"), 0u);
}

TEST_F(GlobalActivityTrackerTest, ThreadTrackersGoBackToThePool) {
  PersistentMemoryAllocator::Reference refs[2] = {};
  for (PersistentMemoryAllocator::Reference& ref : refs) {
    std::thread thread([&ref] {
      GenericActivityScope scope(Here(), 0, 1, 0);
      ASSERT_TRUE(scope.IsRecorded());
      EXPECT_EQ(GlobalActivityTracker::Get()->thread_tracker_count(), 1);
      ref = GlobalActivityTracker::Get()->allocator()->GetAsReference(
          Tracker()->header(), GlobalActivityTracker::kTypeIdThreadTracker);
    });
    thread.join();
    EXPECT_EQ(GlobalActivityTracker::Get()->thread_tracker_count(), 0);
  }
  EXPECT_NE(refs[0], 0u);
  EXPECT_EQ(refs[0], refs[1]);
}

}  // namespace
}  // namespace debug
}  // namespace kelmbase

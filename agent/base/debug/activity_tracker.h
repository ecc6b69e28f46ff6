#ifndef AGENT_BASE_DEBUG_ACTIVITY_TRACKER_H_
#define AGENT_BASE_DEBUG_ACTIVITY_TRACKER_H_

// The activity tracker: each thread keeps, in a block of persistent memory, a
// stack of records of what it is doing right now (running a task, waiting for
// a lock or an event, joining a thread, a generic action), so that another
// process can read it after a hang or a crash. Code marks an activity with a
// scope object on the stack.
//
// Everything hangs off one process-wide GlobalActivityTracker. This program
// never creates one, so every scope only tests a null pointer; the scopes
// stay on the hot paths so that a tracker, once present, sees every activity.

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "agent/base/debug/activity_user_data.h"
#include "agent/base/debug/owner_stamp.h"
#include "agent/base/debug/tracker_block_pool.h"
#include "agent/base/metrics/persistent_memory_allocator.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {

class WaitableEvent;
struct PendingTask;

namespace debug {

enum class ActivityKind : uint8_t {
  kTaskRun = 0x10,
  kLockAcquire = 0x20,
  kEventWait = 0x30,
  kThreadJoin = 0x41,
  kGeneric = 0xF0,  // OR'ed with an action, 0 to 15.
};

// One open activity, 128 bytes, in the tracker's block.
struct ActivityRecord {
  static constexpr int kCallStackSize = 10;

  int64_t time;  // kelmbase::MonotonicTime at the start, in microseconds.
  uint64_t calling_address;
  uint64_t origin_address;
  uint64_t call_stack[kCallStackSize];  // The first entry is 0: none taken.
  uint32_t user_data_ref;
  uint32_t user_data_id;
  uint8_t kind;
  uint8_t padding[7];
  uint64_t data;
};
static_assert(sizeof(ActivityRecord) == 128);
static_assert(offsetof(ActivityRecord, user_data_ref) == 104);
static_assert(offsetof(ActivityRecord, kind) == 112);
static_assert(offsetof(ActivityRecord, data) == 120);

// The start of a thread's tracker block, 224 bytes; the records follow.
struct ThreadTrackerHeader {
  OwnerStamp owner;
  uint64_t thread_handle;  // pthread_t
  int64_t start_time;      // kelmbase::Time
  int64_t start_ticks;     // kelmbase::MonotonicTime
  uint32_t capacity;
  uint32_t reserved;
  // Open activities; may exceed the capacity (those are not recorded).
  std::atomic<uint32_t> depth;
  // Incremented whenever an activity ends.
  std::atomic<uint32_t> change_count;
  ActivityRecord spare;
  char thread_name[32];
};
static_assert(sizeof(ThreadTrackerHeader) == 224);
static_assert(offsetof(ThreadTrackerHeader, depth) == 56);
static_assert(offsetof(ThreadTrackerHeader, thread_name) == 192);

// The data word of a generic activity: `info` in the high half, `id` in the
// low half, both taken as 32 raw bits.
uint64_t GenericActivityData(uint32_t id, int32_t info);
// The data word of a task run: the sequence number sign-extended to 64 bits.
uint64_t TaskRunActivityData(int sequence_num);

// The stack of one thread's activities over a block of memory. Records are
// written only by the owning thread; depth and change count are atomics so
// that another process can read a consistent stack.
class ThreadActivityTracker {
 public:
  // Blocks smaller than this (room for fewer than 2 records) are refused.
  static constexpr size_t kMinBlockSize =
      sizeof(ThreadTrackerHeader) + 2 * sizeof(ActivityRecord);

  static constexpr size_t SizeForCapacity(size_t capacity) {
    return sizeof(ThreadTrackerHeader) + capacity * sizeof(ActivityRecord);
  }

  // Takes over `size` bytes at `base` (8-byte aligned). An owned block is
  // accepted only when IsIntact(); a fresh one (data id 0) is set up for the
  // calling thread with `process_id` (getpid() when 0).
  ThreadActivityTracker(void* base, size_t size, int64_t process_id = 0);
  ThreadActivityTracker(const ThreadActivityTracker&) = delete;
  ThreadActivityTracker& operator=(const ThreadActivityTracker&) = delete;
  virtual ~ThreadActivityTracker();

  bool IsValid() const { return valid_; }
  uint32_t capacity() const { return capacity_; }
  ThreadTrackerHeader* header() const { return header_; }
  ActivityRecord* record(uint32_t index) const { return &records_[index]; }

  // Opens an activity and returns its record index (the depth before it);
  // indexes at or beyond the capacity have no record.
  uint32_t PushActivity(const void* calling_address, const void* origin,
                        uint8_t kind, uint64_t data);
  // Closes the newest activity.
  void PopActivity();

  // Whether the block's header is plausible for a tracker of this capacity.
  bool IsIntact() const;

 private:
  ThreadTrackerHeader* header_ = nullptr;
  ActivityRecord* records_ = nullptr;
  uint32_t capacity_ = 0;
  bool valid_ = false;
};

// The process-wide tracker: a persistent allocator and pools of thread
// tracker blocks and of user-data blocks. Created at most once, by whoever
// decides to track (nothing does in this program), and then used from any
// thread.
class GlobalActivityTracker {
 public:
  static constexpr uint32_t kTypeIdThreadTracker = 0x5D7381B3;
  static constexpr uint32_t kTypeIdThreadTrackerFree = ~0x5D7381B3u;
  static constexpr uint32_t kTypeIdUserData = 0x615EDDD8;
  static constexpr uint32_t kTypeIdUserDataFree = ~0x615EDDD8u;
  static constexpr size_t kUserDataSize = 1024;

  // A thread tracker whose block goes back to the pool when it is deleted.
  class ManagedActivityTracker : public ThreadActivityTracker {
   public:
    ManagedActivityTracker(GlobalActivityTracker* global,
                           PersistentMemoryAllocator::Reference ref,
                           void* base, size_t size);
    ~ManagedActivityTracker() override;

   private:
    GlobalActivityTracker* const global_;
    const PersistentMemoryAllocator::Reference ref_;
  };

  // Installs the global tracker over `allocator`, with room for
  // `stack_depth` records per thread. `process_id` 0 means getpid().
  static void CreateWithAllocator(
      std::unique_ptr<PersistentMemoryAllocator> allocator, int stack_depth,
      int64_t process_id);

  // The installed tracker, or null. One atomic load.
  static GlobalActivityTracker* Get() {
    return g_tracker.load(std::memory_order_acquire);
  }

  // Uninstalls and destroys the tracker. Only when no other thread uses it.
  static void ReleaseForTesting();

  // The calling thread's tracker, or null when it has none yet.
  ThreadActivityTracker* GetTrackerForCurrentThread() const;
  // The calling thread's tracker, made when missing; null when the thread is
  // exiting or no block is left.
  ThreadActivityTracker* GetOrCreateTrackerForCurrentThread();
  ThreadActivityTracker* TrackerForCurrentThread();

  int thread_tracker_count() const {
    return thread_tracker_count_.load(std::memory_order_relaxed);
  }
  PersistentMemoryAllocator* allocator() const { return allocator_.get(); }
  int64_t process_id() const { return process_id_; }

  // User-data blocks, for activity scopes.
  PersistentMemoryAllocator::Reference AcquireUserDataBlock();
  void ReleaseUserDataBlock(PersistentMemoryAllocator::Reference ref);
  Lock& user_data_lock() { return user_data_lock_; }

 private:
  GlobalActivityTracker(std::unique_ptr<PersistentMemoryAllocator> allocator,
                        int stack_depth, int64_t process_id);
  ~GlobalActivityTracker();

  void ReturnTrackerBlock(PersistentMemoryAllocator::Reference ref);

  static std::atomic<GlobalActivityTracker*> g_tracker;

  const std::unique_ptr<PersistentMemoryAllocator> allocator_;
  const size_t stack_memory_size_;
  const int64_t process_id_;
  ThreadLocalStorage::Slot this_thread_tracker_;
  std::atomic<int> thread_tracker_count_{0};
  Lock thread_tracker_lock_;
  TrackerBlockPool thread_tracker_pool_;
  Lock user_data_lock_;
  TrackerBlockPool user_data_pool_;
};

// Marks an activity for as long as it lives. With no global tracker it only
// tests a null pointer.
class ActivityScope {
 public:
  ActivityScope(const ActivityScope&) = delete;
  ActivityScope& operator=(const ActivityScope&) = delete;
  ~ActivityScope();

  // True when a tracker holds a record for this scope.
  bool IsRecorded() const {
    return tracker_ != nullptr && record_index_ < tracker_->capacity();
  }

  // The scope's key/value store: backed by a user-data block when the scope
  // is recorded (lock acquisitions excepted), else one that drops every Set.
  ActivityUserData& user_data();

 protected:
  ActivityScope(const void* calling_address, const void* origin,
                ActivityKind kind, uint8_t action, uint64_t data,
                bool may_take_lock);

 private:
  ThreadActivityTracker* tracker_ = nullptr;
  uint32_t record_index_ = 0;
  uint8_t kind_ = 0;
  std::unique_ptr<ActivityUserData> user_data_;
};

class TaskRunActivityScope : public ActivityScope {
 public:
  TaskRunActivityScope(const void* calling_address, const PendingTask& task);
};

class LockAcquireActivityScope : public ActivityScope {
 public:
  LockAcquireActivityScope(const void* calling_address, const Lock* lock);
};

class EventWaitActivityScope : public ActivityScope {
 public:
  EventWaitActivityScope(const void* calling_address,
                         const WaitableEvent* event);
};

class ThreadJoinActivityScope : public ActivityScope {
 public:
  ThreadJoinActivityScope(const void* calling_address, pthread_t thread);
};

class GenericActivityScope : public ActivityScope {
 public:
  GenericActivityScope(const void* calling_address, uint8_t action,
                       uint32_t id, int32_t info);

  uint32_t id() const { return id_; }

 private:
  uint32_t id_;
};

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_ACTIVITY_TRACKER_H_

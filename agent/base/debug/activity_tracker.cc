#include "agent/base/debug/activity_tracker.h"

#include <unistd.h>

#include <cstring>
#include <limits>

#include "agent/base/pending_task.h"
#include "agent/base/threading/platform_thread.h"
#include "agent/base/time/time.h"
#include "logging/check.h"

namespace kelmbase {
namespace debug {

std::atomic<GlobalActivityTracker*> GlobalActivityTracker::g_tracker{nullptr};

uint64_t GenericActivityData(uint32_t id, int32_t info) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(info)) << 32) | id;
}

uint64_t TaskRunActivityData(int sequence_num) {
  return static_cast<uint64_t>(static_cast<int64_t>(sequence_num));
}

ThreadActivityTracker::ThreadActivityTracker(void* base, size_t size,
                                             int64_t process_id) {
  if (base == nullptr || size < kMinBlockSize) return;
  const size_t capacity =
      (size - sizeof(ThreadTrackerHeader)) / sizeof(ActivityRecord);
  if (capacity > std::numeric_limits<uint32_t>::max()) return;
  header_ = static_cast<ThreadTrackerHeader*>(base);
  records_ = reinterpret_cast<ActivityRecord*>(header_ + 1);
  capacity_ = static_cast<uint32_t>(capacity);
  if (header_->owner.data_id.load(std::memory_order_acquire) != 0) {
    valid_ = IsIntact();
    return;
  }
  header_->thread_handle =
      static_cast<uint64_t>(PlatformThread::CurrentHandle().platform_handle());
  header_->start_time = Time::Now().ToInternalValue();
  header_->start_ticks = MonotonicTime::Now().ToInternalValue();
  header_->capacity = capacity_;
  if (const char* name = PlatformThread::GetName()) {
    strncpy(header_->thread_name, name, sizeof(header_->thread_name) - 1);
  }
  header_->thread_name[sizeof(header_->thread_name) - 1] = '\0';
  OwnerStamp::Initialize(&header_->owner, process_id);
  valid_ = true;
}

ThreadActivityTracker::~ThreadActivityTracker() = default;

bool ThreadActivityTracker::IsIntact() const {
  return header_->owner.data_id.load(std::memory_order_acquire) != 0 &&
         header_->owner.process_id != 0 && header_->thread_handle != 0 &&
         header_->start_time != 0 && header_->start_ticks != 0 &&
         header_->capacity == capacity_ &&
         header_->thread_name[sizeof(header_->thread_name) - 1] == '\0';
}

uint32_t ThreadActivityTracker::PushActivity(const void* calling_address,
                                             const void* origin, uint8_t kind,
                                             uint64_t data) {
  const uint32_t depth = header_->depth.load(std::memory_order_relaxed);
  if (depth < capacity_) {
    ActivityRecord* r = &records_[depth];
    r->time = MonotonicTime::Now().ToInternalValue();
    r->calling_address = reinterpret_cast<uintptr_t>(calling_address);
    r->origin_address = reinterpret_cast<uintptr_t>(origin);
    r->call_stack[0] = 0;
    r->kind = kind;
    r->data = data;
    r->user_data_ref = 0;
    r->user_data_id = 0;
  }
  header_->depth.store(depth + 1, std::memory_order_release);
  return depth;
}

void ThreadActivityTracker::PopActivity() {
  header_->depth.fetch_sub(1, std::memory_order_acq_rel);
  header_->change_count.fetch_add(1, std::memory_order_acq_rel);
}

GlobalActivityTracker::ManagedActivityTracker::ManagedActivityTracker(
    GlobalActivityTracker* global, PersistentMemoryAllocator::Reference ref,
    void* base, size_t size)
    : ThreadActivityTracker(base, size, global->process_id()),
      global_(global),
      ref_(ref) {}

GlobalActivityTracker::ManagedActivityTracker::~ManagedActivityTracker() {
  global_->ReturnTrackerBlock(ref_);
}

GlobalActivityTracker::GlobalActivityTracker(
    std::unique_ptr<PersistentMemoryAllocator> allocator, int stack_depth,
    int64_t process_id)
    : allocator_(std::move(allocator)),
      stack_memory_size_(ThreadActivityTracker::SizeForCapacity(
          static_cast<size_t>(stack_depth))),
      process_id_(process_id != 0 ? process_id : getpid()),
      this_thread_tracker_([](void* tracker) {
        delete static_cast<ThreadActivityTracker*>(tracker);
      }),
      thread_tracker_pool_(allocator_.get(), kTypeIdThreadTracker,
                           kTypeIdThreadTrackerFree, stack_memory_size_,
                           TrackerBlockPool::kMaxCache, true),
      user_data_pool_(allocator_.get(), kTypeIdUserData, kTypeIdUserDataFree,
                      kUserDataSize, TrackerBlockPool::kMaxCache, false) {}

GlobalActivityTracker::~GlobalActivityTracker() {
  // The calling thread's tracker goes first; other threads must be done.
  delete static_cast<ThreadActivityTracker*>(this_thread_tracker_.Get());
  this_thread_tracker_.Set(nullptr);
}

void GlobalActivityTracker::CreateWithAllocator(
    std::unique_ptr<PersistentMemoryAllocator> allocator, int stack_depth,
    int64_t process_id) {
  auto* tracker = new GlobalActivityTracker(std::move(allocator), stack_depth,
                                            process_id);
  GlobalActivityTracker* expected = nullptr;
  CHECK(g_tracker.compare_exchange_strong(expected, tracker,
                                          std::memory_order_acq_rel));
}

void GlobalActivityTracker::ReleaseForTesting() {
  delete g_tracker.exchange(nullptr, std::memory_order_acq_rel);
}

ThreadActivityTracker* GlobalActivityTracker::GetTrackerForCurrentThread()
    const {
  return static_cast<ThreadActivityTracker*>(this_thread_tracker_.Get());
}

ThreadActivityTracker*
GlobalActivityTracker::GetOrCreateTrackerForCurrentThread() {
  if (ThreadActivityTracker* tracker = GetTrackerForCurrentThread()) {
    return tracker;
  }
  return TrackerForCurrentThread();
}

ThreadActivityTracker* GlobalActivityTracker::TrackerForCurrentThread() {
  if (ThreadLocalStorage::HasBeenDestroyed()) return nullptr;
  PersistentMemoryAllocator::Reference ref;
  {
    ScopedLock lock(thread_tracker_lock_);
    ref = thread_tracker_pool_.Acquire();
  }
  if (ref == PersistentMemoryAllocator::kReferenceNull) return nullptr;
  void* memory = allocator_->GetAsObject(ref, kTypeIdThreadTracker,
                                         stack_memory_size_);
  auto* tracker =
      new ManagedActivityTracker(this, ref, memory, stack_memory_size_);
  delete static_cast<ThreadActivityTracker*>(this_thread_tracker_.Get());
  this_thread_tracker_.Set(tracker);
  thread_tracker_count_.fetch_add(1, std::memory_order_relaxed);
  return tracker;
}

void GlobalActivityTracker::ReturnTrackerBlock(
    PersistentMemoryAllocator::Reference ref) {
  ScopedLock lock(thread_tracker_lock_);
  thread_tracker_pool_.Release(ref);
  thread_tracker_count_.fetch_sub(1, std::memory_order_relaxed);
}

PersistentMemoryAllocator::Reference
GlobalActivityTracker::AcquireUserDataBlock() {
  return user_data_pool_.Acquire();
}

void GlobalActivityTracker::ReleaseUserDataBlock(
    PersistentMemoryAllocator::Reference ref) {
  user_data_pool_.Release(ref);
}

ActivityScope::ActivityScope(const void* calling_address, const void* origin,
                             ActivityKind kind, uint8_t action, uint64_t data,
                             bool may_take_lock) {
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  if (global == nullptr) [[likely]] {
    tracker_ = nullptr;
    return;
  }
  tracker_ = may_take_lock ? global->GetOrCreateTrackerForCurrentThread()
                           : global->GetTrackerForCurrentThread();
  if (tracker_ == nullptr || !tracker_->IsValid()) {
    tracker_ = nullptr;
    return;
  }
  kind_ = static_cast<uint8_t>(static_cast<uint8_t>(kind) | action);
  record_index_ = tracker_->PushActivity(calling_address, origin, kind_, data);
}

ActivityScope::~ActivityScope() {
  if (tracker_ != nullptr && record_index_ < tracker_->capacity()) {
    ActivityRecord* record = tracker_->record(record_index_);
    if (record->user_data_ref != 0) {
      GlobalActivityTracker* global = GlobalActivityTracker::Get();
      ScopedLock lock(global->user_data_lock());
      global->ReleaseUserDataBlock(record->user_data_ref);
      record->user_data_ref = 0;
    }
  }
  user_data_.reset();
  if (tracker_ != nullptr) tracker_->PopActivity();
}

ActivityUserData& ActivityScope::user_data() {
  if (user_data_) return *user_data_;
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  if (tracker_ != nullptr && global != nullptr &&
      record_index_ < tracker_->capacity() &&
      kind_ != static_cast<uint8_t>(ActivityKind::kLockAcquire)) {
    ScopedLock lock(global->user_data_lock());
    const PersistentMemoryAllocator::Reference ref =
        global->AcquireUserDataBlock();
    if (ref != PersistentMemoryAllocator::kReferenceNull) {
      void* memory = global->allocator()->GetAsObject(
          ref, GlobalActivityTracker::kTypeIdUserData,
          GlobalActivityTracker::kUserDataSize);
      user_data_ = std::make_unique<ActivityUserData>(
          memory, GlobalActivityTracker::kUserDataSize, global->process_id());
      ActivityRecord* record = tracker_->record(record_index_);
      record->user_data_ref = ref;
      record->user_data_id = static_cast<OwnerStamp*>(memory)->data_id.load(
          std::memory_order_relaxed);
      return *user_data_;
    }
  }
  user_data_ = std::make_unique<ActivityUserData>();
  return *user_data_;
}

TaskRunActivityScope::TaskRunActivityScope(const void* calling_address,
                                           const PendingTask& task)
    : ActivityScope(calling_address, task.posted_from.program_counter(),
                    ActivityKind::kTaskRun, 0,
                    TaskRunActivityData(task.sequence_num), true) {}

LockAcquireActivityScope::LockAcquireActivityScope(const void* calling_address,
                                                   const Lock* lock)
    : ActivityScope(calling_address, nullptr, ActivityKind::kLockAcquire, 0,
                    reinterpret_cast<uintptr_t>(lock), false) {}

EventWaitActivityScope::EventWaitActivityScope(const void* calling_address,
                                               const WaitableEvent* event)
    : ActivityScope(calling_address, nullptr, ActivityKind::kEventWait, 0,
                    reinterpret_cast<uintptr_t>(event), true) {}

ThreadJoinActivityScope::ThreadJoinActivityScope(const void* calling_address,
                                                 pthread_t thread)
    : ActivityScope(calling_address, nullptr, ActivityKind::kThreadJoin, 0,
                    static_cast<uint64_t>(thread), true) {}

GenericActivityScope::GenericActivityScope(const void* calling_address,
                                           uint8_t action, uint32_t id,
                                           int32_t info)
    : ActivityScope(calling_address, nullptr, ActivityKind::kGeneric,
                    static_cast<uint8_t>(action & 0x0F),
                    GenericActivityData(id, info), true),
      id_(id) {}

}  // namespace debug
}  // namespace kelmbase

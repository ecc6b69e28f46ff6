#include "agent/base/task/sequence_manager/time_domain.h"

#include <utility>

#include "agent/base/task/sequence_manager/sequence_manager_impl.h"
#include "agent/base/task/sequence_manager/task_queue_impl.h"
#include "logging/check.h"

namespace kelmbase {
namespace sequence_manager {

namespace {

constexpr size_t Parent(size_t i) { return (i - 1) / 2; }
constexpr size_t LeftChild(size_t i) { return 2 * i + 1; }

}  // namespace

bool DelayedWakeUp::ComesBefore(const DelayedWakeUp& other) const {
  if (time != other.time) return time < other.time;
  if (sequence_num != other.sequence_num)
    return internal::SequenceNumberIsEarlier(sequence_num, other.sequence_num);
  return resolution <= other.resolution;
}

TimeDomain::TimeDomain()
    : associated_thread_(internal::AssociatedThreadId::CreateUnbound()) {
  delayed_wake_up_queue_.reserve(4);
}

TimeDomain::~TimeDomain() {
  for (ScheduledDelayedWakeUp& entry : delayed_wake_up_queue_)
    entry.queue->set_wake_up_heap_handle(-1);
}

void TimeDomain::OnRegisterWithSequenceManager(
    internal::SequenceManagerImpl* sequence_manager) {
  sequence_manager_ = sequence_manager;
  associated_thread_ = sequence_manager->associated_thread();
}

void TimeDomain::SetNextDelayedDoWork(LazyNow* lazy_now,
                                      MonotonicTime run_time) {
  sequence_manager_->SetNextDelayedDoWork(lazy_now, run_time);
}

void TimeDomain::RequestDoWork() { sequence_manager_->ScheduleWork(); }

bool TimeDomain::HeapBefore(size_t a, size_t b) const {
  return delayed_wake_up_queue_[a].wake_up.ComesBefore(
      delayed_wake_up_queue_[b].wake_up);
}

void TimeDomain::MoveEntry(size_t to, ScheduledDelayedWakeUp entry) {
  delayed_wake_up_queue_[to] = entry;
  entry.queue->set_wake_up_heap_handle(static_cast<int>(to));
}

void TimeDomain::SiftUp(size_t index) {
  const ScheduledDelayedWakeUp entry = delayed_wake_up_queue_[index];
  while (index > 0 && entry.wake_up.ComesBefore(
                          delayed_wake_up_queue_[Parent(index)].wake_up)) {
    MoveEntry(index, delayed_wake_up_queue_[Parent(index)]);
    index = Parent(index);
  }
  MoveEntry(index, entry);
}

void TimeDomain::SiftDown(size_t index) {
  const ScheduledDelayedWakeUp entry = delayed_wake_up_queue_[index];
  const size_t size = delayed_wake_up_queue_.size();
  for (size_t child = LeftChild(index); child < size;
       child = LeftChild(index)) {
    if (child + 1 < size && HeapBefore(child + 1, child)) ++child;
    if (!delayed_wake_up_queue_[child].wake_up.ComesBefore(entry.wake_up))
      break;
    MoveEntry(index, delayed_wake_up_queue_[child]);
    index = child;
  }
  MoveEntry(index, entry);
}

void TimeDomain::EraseAt(size_t index) {
  delayed_wake_up_queue_[index].queue->set_wake_up_heap_handle(-1);
  const size_t last = delayed_wake_up_queue_.size() - 1;
  if (index != last) {
    MoveEntry(index, delayed_wake_up_queue_[last]);
    delayed_wake_up_queue_.pop_back();
    // The filler may belong above or below the hole.
    internal::TaskQueueImpl* filler = delayed_wake_up_queue_[index].queue;
    SiftUp(index);
    SiftDown(static_cast<size_t>(filler->wake_up_heap_handle()));
    return;
  }
  delayed_wake_up_queue_.pop_back();
}

void TimeDomain::SetNextWakeUpForQueue(internal::TaskQueueImpl* queue,
                                       std::optional<DelayedWakeUp> wake_up,
                                       LazyNow* lazy_now) {
  const std::optional<MonotonicTime> previous_top = NextScheduledRunTime();

  const int handle = queue->wake_up_heap_handle();
  if (handle < 0) {
    if (wake_up) {
      delayed_wake_up_queue_.push_back({*wake_up, queue});
      SiftUp(delayed_wake_up_queue_.size() - 1);
    }
  } else {
    const size_t index = static_cast<size_t>(handle);
    if (delayed_wake_up_queue_[index].wake_up.resolution ==
        WakeUpResolution::kHigh) {
      --pending_high_res_wake_up_count_;
    }
    if (wake_up) {
      const DelayedWakeUp old = delayed_wake_up_queue_[index].wake_up;
      delayed_wake_up_queue_[index].wake_up = *wake_up;
      if (old.ComesBefore(*wake_up)) {
        SiftDown(index);
      } else {
        SiftUp(index);
      }
    } else {
      EraseAt(index);
    }
  }
  if (wake_up && wake_up->resolution == WakeUpResolution::kHigh)
    ++pending_high_res_wake_up_count_;

  const std::optional<MonotonicTime> new_top = NextScheduledRunTime();
  if (previous_top == new_top) return;
  const MonotonicTime run_time = new_top ? *new_top : MonotonicTime::Max();
  if (lazy_now->Now() < run_time) {
    SetNextDelayedDoWork(lazy_now, run_time);
  } else {
    RequestDoWork();
  }
}

void TimeDomain::UnregisterQueue(internal::TaskQueueImpl* queue) {
  LazyNow lazy_now = CreateLazyNow();
  SetNextWakeUpForQueue(queue, std::nullopt, &lazy_now);
}

void TimeDomain::MoveReadyDelayedTasksToWorkQueues(LazyNow* lazy_now) {
  while (!delayed_wake_up_queue_.empty() &&
         delayed_wake_up_queue_.front().wake_up.time <= lazy_now->Now()) {
    delayed_wake_up_queue_.front().queue->MoveReadyDelayedTasksToWorkQueue(
        lazy_now);
  }
}

std::optional<MonotonicTime> TimeDomain::NextScheduledRunTime() const {
  if (delayed_wake_up_queue_.empty()) return std::nullopt;
  return delayed_wake_up_queue_.front().wake_up.time;
}

Value TimeDomain::AsValue() const {
  Value state(Value::Type::DICTIONARY);
  state.SetStringKey("name", GetName());
  state.SetIntKey("registered_delay_count",
                  static_cast<int>(delayed_wake_up_queue_.size()));
  if (!delayed_wake_up_queue_.empty()) {
    const Duration delay = delayed_wake_up_queue_.front().wake_up.time - Now();
    state.SetDoubleKey("next_delay_ms", delay.InMillisecondsF());
  }
  return state;
}

}  // namespace sequence_manager
}  // namespace kelmbase

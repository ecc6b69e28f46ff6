#include "agent/base/task/sequence_manager/work_queue_sets.h"

#include <utility>

#include "agent/base/task/sequence_manager/work_queue.h"
#include "logging/check.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

namespace {

constexpr size_t kParent(size_t i) { return (i - 1) / 2; }
constexpr size_t kLeftChild(size_t i) { return 2 * i + 1; }

}  // namespace

WorkQueueSets::WorkQueueSets(const char* name, Observer* observer)
    : name_(name), observer_(observer) {
  for (Heap& heap : work_queue_heaps_) heap.reserve(4);
}

WorkQueueSets::~WorkQueueSets() {
  for (Heap& heap : work_queue_heaps_) {
    for (Entry& entry : heap) entry.value->set_heap_handle(-1);
  }
}

void WorkQueueSets::AddQueue(WorkQueue* work_queue, size_t set_index) {
  CHECK(!work_queue->work_queue_sets());
  CHECK(set_index < kNumSets);
  work_queue->AssignToWorkQueueSets(this);
  work_queue->AssignSetIndex(set_index);
  EnqueueOrder order;
  if (!work_queue->GetFrontTaskEnqueueOrder(&order)) return;
  const bool was_empty = work_queue_heaps_[set_index].empty();
  Insert(set_index, {order, work_queue});
  if (was_empty) observer_->WorkQueueSetBecameNonEmpty(set_index);
}

void WorkQueueSets::RemoveQueue(WorkQueue* work_queue) {
  CHECK(work_queue->work_queue_sets() == this);
  work_queue->AssignToWorkQueueSets(nullptr);
  const int handle = work_queue->heap_handle();
  if (handle < 0) return;
  const size_t set_index = work_queue->work_queue_set_index();
  Erase(set_index, static_cast<size_t>(handle));
  if (work_queue_heaps_[set_index].empty())
    observer_->WorkQueueSetBecameEmpty(set_index);
}

void WorkQueueSets::OnTaskPushedToEmptyQueue(WorkQueue* work_queue) {
  EnqueueOrder order;
  const bool has_front = work_queue->GetFrontTaskEnqueueOrder(&order);
  CHECK(has_front);
  CHECK(work_queue->heap_handle() < 0);
  const size_t set_index = work_queue->work_queue_set_index();
  const bool was_empty = work_queue_heaps_[set_index].empty();
  Insert(set_index, {order, work_queue});
  if (was_empty) observer_->WorkQueueSetBecameNonEmpty(set_index);
}

void WorkQueueSets::OnQueuesFrontTaskChanged(WorkQueue* work_queue) {
  const size_t set_index = work_queue->work_queue_set_index();
  const int handle = work_queue->heap_handle();
  CHECK(handle >= 0);
  EnqueueOrder order;
  if (work_queue->GetFrontTaskEnqueueOrder(&order)) {
    ChangeKey(set_index, static_cast<size_t>(handle), order);
    return;
  }
  Erase(set_index, static_cast<size_t>(handle));
  if (work_queue_heaps_[set_index].empty())
    observer_->WorkQueueSetBecameEmpty(set_index);
}

void WorkQueueSets::OnPopMinQueueInSet(WorkQueue* work_queue) {
  const size_t set_index = work_queue->work_queue_set_index();
  CHECK(work_queue->heap_handle() == 0);
  EnqueueOrder order;
  if (work_queue->GetFrontTaskEnqueueOrder(&order)) {
    ReplaceTop(set_index, {order, work_queue});
    return;
  }
  Erase(set_index, 0);
  if (work_queue_heaps_[set_index].empty())
    observer_->WorkQueueSetBecameEmpty(set_index);
}

void WorkQueueSets::OnQueueBlocked(WorkQueue* work_queue) {
  const int handle = work_queue->heap_handle();
  if (handle < 0) return;
  const size_t set_index = work_queue->work_queue_set_index();
  Erase(set_index, static_cast<size_t>(handle));
  if (work_queue_heaps_[set_index].empty())
    observer_->WorkQueueSetBecameEmpty(set_index);
}

WorkQueue* WorkQueueSets::GetOldestQueueInSet(size_t set_index) const {
  const Heap& heap = work_queue_heaps_[set_index];
  return heap.empty() ? nullptr : heap.front().value;
}

WorkQueue* WorkQueueSets::GetOldestQueueAndEnqueueOrderInSet(
    size_t set_index, EnqueueOrder* out_enqueue_order) const {
  const Heap& heap = work_queue_heaps_[set_index];
  if (heap.empty()) return nullptr;
  *out_enqueue_order = heap.front().order;
  return heap.front().value;
}

bool WorkQueueSets::IsSetEmpty(size_t set_index) const {
  return work_queue_heaps_[set_index].empty();
}

void WorkQueueSets::Place(Heap& heap, size_t index, Entry entry) {
  heap[index] = entry;
  entry.value->set_heap_handle(static_cast<int>(index));
}

void WorkQueueSets::MoveUp(Heap& heap, size_t hole, Entry entry) {
  // A parent with an equal key is passed.
  while (hole > 0 && !(heap[kParent(hole)].order < entry.order)) {
    Place(heap, hole, heap[kParent(hole)]);
    hole = kParent(hole);
  }
  Place(heap, hole, entry);
}

size_t WorkQueueSets::MoveHoleDownToLeaf(Heap& heap, size_t hole) {
  // The last element is the filler and takes no part.
  const size_t size = heap.size() - 1;
  for (size_t child = kLeftChild(hole); child < size;
       child = kLeftChild(hole)) {
    if (child + 1 < size && heap[child].order >= heap[child + 1].order) ++child;
    Place(heap, hole, heap[child]);
    hole = child;
  }
  return hole;
}

void WorkQueueSets::MoveDown(Heap& heap, size_t hole, Entry entry) {
  const size_t size = heap.size();
  for (size_t child = kLeftChild(hole); child < size;
       child = kLeftChild(hole)) {
    if (child + 1 < size && heap[child].order >= heap[child + 1].order) ++child;
    if (!(heap[child].order < entry.order)) break;
    Place(heap, hole, heap[child]);
    hole = child;
  }
  Place(heap, hole, entry);
}

void WorkQueueSets::Insert(size_t set, Entry entry) {
  Heap& heap = work_queue_heaps_[set];
  heap.push_back(entry);
  MoveUp(heap, heap.size() - 1, entry);
}

void WorkQueueSets::Erase(size_t set, size_t index) {
  Heap& heap = work_queue_heaps_[set];
  CHECK(index < heap.size());
  heap[index].value->set_heap_handle(-1);
  if (index + 1 == heap.size()) {
    heap.pop_back();
    return;
  }
  const Entry filler = heap.back();
  const size_t leaf = MoveHoleDownToLeaf(heap, index);
  MoveUp(heap, leaf, filler);
  heap.pop_back();
}

void WorkQueueSets::ChangeKey(size_t set, size_t index, EnqueueOrder order) {
  Heap& heap = work_queue_heaps_[set];
  const Entry entry{order, heap[index].value};
  if (heap[index].order > order) {
    MoveUp(heap, index, entry);
  } else {
    MoveDown(heap, index, entry);
  }
}

void WorkQueueSets::ReplaceTop(size_t set, Entry entry) {
  MoveDown(work_queue_heaps_[set], 0, entry);
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

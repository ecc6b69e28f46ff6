#include "agent/base/metrics/persistent_sample_map.h"

#include "agent/base/metrics/persistent_histogram_store.h"
#include "agent/base/metrics/sample_map.h"

namespace kelmbase {

namespace {

int32_t WrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) +
                              static_cast<uint32_t>(b));
}

int32_t WrappingNegate(int32_t a) {
  return static_cast<int32_t>(0 - static_cast<uint32_t>(a));
}

}  // namespace

PersistentSampleMap::PersistentSampleMap(uint64_t id,
                                         PersistentHistogramStore* store,
                                         SamplesMetadata* meta)
    : HistogramSamples(id, meta), store_(store) {}

PersistentSampleMap::~PersistentSampleMap() {
  if (records_ != nullptr) records_->Release(this);
}

SampleRecordSource* PersistentSampleMap::records() const {
  if (records_ == nullptr) records_ = store_->UseSampleRecords(id(), this);
  return records_;
}

int32_t* PersistentSampleMap::ImportSamples(int32_t until_value,
                                            bool import_everything) const {
  PersistentMemoryAllocator* allocator = store_->memory_allocator();
  int32_t* found = nullptr;
  for (;;) {
    const PersistentMemoryAllocator::Reference ref = records()->GetNext();
    if (ref == PersistentMemoryAllocator::kReferenceNull) break;
    auto* record = static_cast<PersistentSampleRecord*>(allocator->GetAsObject(
        ref, PersistentHistogramStore::kTypeIdSampleRecord,
        sizeof(PersistentSampleRecord)));
    if (record == nullptr || record->id != id()) continue;
    // The first record of a value wins; a later duplicate is ignored.
    auto inserted = sample_counts_.emplace(record->value, &record->count);
    if (record->value == until_value && found == nullptr) {
      found = inserted.first->second;
      if (!import_everything) break;
    }
  }
  return found;
}

int32_t* PersistentSampleMap::GetSampleCountStorage(int32_t value) const {
  auto it = sample_counts_.find(value);
  if (it != sample_counts_.end()) return it->second;
  return ImportSamples(value, /*import_everything=*/false);
}

int32_t* PersistentSampleMap::GetOrCreateSampleCountStorage(int32_t value) {
  if (int32_t* cell = GetSampleCountStorage(value)) return cell;
  if (records()->CreateNew(value) != PersistentMemoryAllocator::kReferenceNull) {
    if (int32_t* cell = ImportSamples(value, /*import_everything=*/false)) {
      return cell;
    }
  }
  // No room in the segment: count on the heap.
  heap_cells_.push_back(std::make_unique<int32_t>(0));
  int32_t* cell = heap_cells_.back().get();
  sample_counts_[value] = cell;
  return cell;
}

void PersistentSampleMap::AddCountAt(int32_t value, int32_t count) {
  int32_t* cell = GetOrCreateSampleCountStorage(value);
  const int32_t old = *cell;
  if (count < 0) {
    const int64_t decrement = -int64_t{count};
    ReportNegativeSample(old < decrement ? kPersistentMapCellTurnedNegative
                                         : kPersistentMapNegativeCount,
                         WrappingNegate(count));
    *cell = WrappingAdd(old, count);
  } else {
    const int32_t updated = WrappingAdd(old, count);
    *cell = updated;
    if ((old < 0) != (updated < 0)) {
      ReportNegativeSample(kCountChangedSign, count);
    }
  }
  AddToSumAndCount(static_cast<int64_t>(count) * value, count);
}

int32_t PersistentSampleMap::CountOf(int32_t value) const {
  const int32_t* cell = GetSampleCountStorage(value);
  return cell == nullptr ? 0 : *cell;
}

int32_t PersistentSampleMap::TotalCount() const {
  ImportSamples(0, /*import_everything=*/true);
  int32_t total = 0;
  for (const auto& [value, cell] : sample_counts_) {
    total = WrappingAdd(total, *cell);
  }
  return total;
}

std::unique_ptr<SampleCountIterator> PersistentSampleMap::MakeIterator()
    const {
  ImportSamples(0, /*import_everything=*/true);
  return std::make_unique<PersistentSampleMapIterator>(sample_counts_);
}

bool PersistentSampleMap::ApplyIterator(SampleCountIterator* iter,
                                        Operator op) {
  for (; !iter->IsDone(); iter->Advance()) {
    int32_t min = 0;
    int64_t max = 0;
    int32_t count = 0;
    iter->Current(&min, &max, &count);
    if (count == 0) continue;
    if (max != int64_t{min} + 1) return false;
    int32_t* cell = GetOrCreateSampleCountStorage(min);
    *cell = WrappingAdd(*cell, op == ADD ? count : WrappingNegate(count));
  }
  return true;
}

}  // namespace kelmbase

#include "agent/base/metrics/persistent_histogram_store.h"

#include <algorithm>
#include <cstring>

#include "agent/base/metrics/bucket_ranges.h"
#include "agent/base/metrics/histogram.h"
#include "agent/base/metrics/metrics_hashes.h"
#include "agent/base/metrics/sample_vector.h"
#include "agent/base/metrics/sparse_histogram.h"
#include "agent/base/metrics/statistics_recorder.h"

namespace kelmbase {

namespace {

using Reference = PersistentMemoryAllocator::Reference;

std::atomic<PersistentHistogramStore*> g_global_store{nullptr};

// The record's fixed part up to the name.
constexpr size_t kRecordNameOffset = offsetof(PersistentHistogramRecord, name);
// A load stops early once it has read this many records and found one.
constexpr int kMinRecordsPerLoad = 10;
// The most buckets a record may claim: its boundaries must fit in a block.
constexpr uint32_t kMaxRecordBuckets = 0x3FFFFFFE;

}  // namespace

// --- SampleRecordSource ------------------------------------------------------

SampleRecordSource::SampleRecordSource(SampleRecordDirectory* directory,
                                       uint64_t id)
    : directory_(directory), id_(id) {}

SampleRecordSource::~SampleRecordSource() = default;

Reference SampleRecordSource::GetNext() {
  if (handed_out_ >= references_.size() && !directory_->LoadRecords(this)) {
    return PersistentMemoryAllocator::kReferenceNull;
  }
  if (handed_out_ >= references_.size()) {
    return PersistentMemoryAllocator::kReferenceNull;
  }
  return references_[handed_out_++];
}

Reference SampleRecordSource::CreateNew(int32_t value) {
  PersistentMemoryAllocator* allocator = directory_->allocator();
  const Reference ref = allocator->Allocate(
      sizeof(PersistentSampleRecord),
      PersistentHistogramStore::kTypeIdSampleRecord);
  auto* record = static_cast<PersistentSampleRecord*>(allocator->GetAsObject(
      ref, PersistentHistogramStore::kTypeIdSampleRecord,
      sizeof(PersistentSampleRecord)));
  if (record == nullptr) return PersistentMemoryAllocator::kReferenceNull;
  record->id = id_;
  record->value = value;
  record->count = 0;
  allocator->MakeIterable(ref);
  return ref;
}

void SampleRecordSource::Release(const void* user) {
  ScopedLock hold(directory_->lock_);
  if (user_ == user) user_ = nullptr;
}

// --- SampleRecordDirectory ---------------------------------------------------

SampleRecordDirectory::SampleRecordDirectory(
    PersistentMemoryAllocator* allocator)
    : allocator_(allocator), iterator_(allocator) {}

SampleRecordDirectory::~SampleRecordDirectory() = default;

SampleRecordSource* SampleRecordDirectory::GetOrCreateSourceLocked(
    uint64_t id) {
  std::unique_ptr<SampleRecordSource>& source = sources_[id];
  if (!source) source = std::make_unique<SampleRecordSource>(this, id);
  return source.get();
}

SampleRecordSource* SampleRecordDirectory::UseSampleRecords(uint64_t id,
                                                            const void* user) {
  ScopedLock hold(lock_);
  SampleRecordSource* source = GetOrCreateSourceLocked(id);
  source->user_ = user;
  source->handed_out_ = 0;
  return source;
}

bool SampleRecordDirectory::LoadRecords(SampleRecordSource* source) {
  ScopedLock hold(lock_);
  size_t produced = source->found_.size();
  source->references_.insert(source->references_.end(),
                             source->found_.begin(), source->found_.end());
  source->found_.clear();

  int read = 0;
  for (;;) {
    if (read >= kMinRecordsPerLoad && produced > 0) break;
    const Reference ref =
        iterator_.GetNextOfType(PersistentHistogramStore::kTypeIdSampleRecord);
    if (ref == PersistentMemoryAllocator::kReferenceNull) break;
    ++read;
    const auto* record = static_cast<const PersistentSampleRecord*>(
        static_cast<const PersistentMemoryAllocator*>(allocator_)->GetAsObject(
            ref, PersistentHistogramStore::kTypeIdSampleRecord,
            sizeof(PersistentSampleRecord)));
    if (record == nullptr) continue;
    if (record->id == source->id_) {
      source->references_.push_back(ref);
      ++produced;
    } else {
      GetOrCreateSourceLocked(record->id)->found_.push_back(ref);
    }
  }
  return produced > 0;
}

// --- PersistentHistogramStore ------------------------------------------------

PersistentHistogramStore::PersistentHistogramStore(
    std::unique_ptr<PersistentMemoryAllocator> allocator)
    : allocator_(std::move(allocator)),
      sample_records_(allocator_.get()),
      import_iterator_(allocator_.get()) {}

PersistentHistogramStore::~PersistentHistogramStore() = default;

void PersistentHistogramStore::SetGlobal(PersistentHistogramStore* store) {
  g_global_store.store(store, std::memory_order_release);
}

PersistentHistogramStore* PersistentHistogramStore::GetGlobal() {
  return g_global_store.load(std::memory_order_acquire);
}

SampleRecordSource* PersistentHistogramStore::UseSampleRecords(
    uint64_t id, const void* user) {
  return sample_records_.UseSampleRecords(id, user);
}

Reference PersistentHistogramStore::GetOrCreateRangesBlock(
    const BucketRanges* ranges) {
  const size_t bytes = ranges->size() * sizeof(int32_t);
  // A range list shared with another segment may carry that segment's
  // reference; use it only when it names an equal copy in this one.
  const Reference known = ranges->persistent_reference();
  if (known != 0) {
    const void* copy = static_cast<const PersistentMemoryAllocator*>(
                           allocator_.get())
                           ->GetAsObject(known, kTypeIdRangesArray, bytes);
    if (copy != nullptr && memcmp(copy, ranges->ranges().data(), bytes) == 0) {
      return known;
    }
  }
  const Reference ref = allocator_->Allocate(bytes, kTypeIdRangesArray);
  void* memory = allocator_->GetAsObject(ref, kTypeIdRangesArray, bytes);
  if (memory == nullptr) return 0;
  memcpy(memory, ranges->ranges().data(), bytes);
  ranges->set_persistent_reference(ref);
  return ref;
}

std::unique_ptr<HistogramBase> PersistentHistogramStore::AllocateHistogram(
    HistogramType type, const std::string& name, int32_t minimum,
    int32_t maximum, const BucketRanges* ranges, int32_t flags,
    Reference* ref_out) {
  if (allocator_->IsCorrupt()) return nullptr;

  const size_t record_size =
      std::max(sizeof(PersistentHistogramRecord),
               kRecordNameOffset + name.size() + 1);
  const Reference record_ref =
      allocator_->Allocate(record_size, kTypeIdHistogram);
  auto* record = static_cast<PersistentHistogramRecord*>(
      allocator_->GetAsObject(record_ref, kTypeIdHistogram, record_size));
  if (record != nullptr) {
    memset(static_cast<void*>(record), 0, sizeof(PersistentHistogramRecord));
    memcpy(reinterpret_cast<char*>(record) + kRecordNameOffset, name.c_str(),
           name.size() + 1);
    record->histogram_type = type;
    record->flags = flags | HistogramBase::kIsPersistent;
  }

  if (type != SPARSE_HISTOGRAM) {
    if (ranges == nullptr || ranges->bucket_count() == 0) return nullptr;
    const Reference ranges_ref = GetOrCreateRangesBlock(ranges);
    if (ranges_ref == 0 || record == nullptr) return nullptr;
    record->minimum = minimum;
    record->maximum = maximum;
    record->bucket_count = static_cast<uint32_t>(ranges->bucket_count());
    record->ranges_ref = ranges_ref;
    record->ranges_checksum = ranges->checksum();
  } else if (record == nullptr) {
    return nullptr;
  }

  std::unique_ptr<HistogramBase> histogram = CreateHistogram(record);
  if (!histogram) return nullptr;
  *ref_out = record_ref;
  last_created_.store(record_ref, std::memory_order_relaxed);
  return histogram;
}

void PersistentHistogramStore::FinalizeHistogram(Reference ref,
                                                 bool registered) {
  if (registered) {
    allocator_->MakeIterable(ref);
  } else {
    allocator_->ChangeType(ref, PersistentMemoryAllocator::kTypeIdAbandoned,
                           kTypeIdHistogram, /*clear=*/false);
  }
}

std::unique_ptr<HistogramBase> PersistentHistogramStore::GetHistogram(
    Reference ref) {
  auto* record = static_cast<PersistentHistogramRecord*>(
      allocator_->GetAsObject(ref, kTypeIdHistogram,
                              sizeof(PersistentHistogramRecord)));
  if (record == nullptr) return nullptr;
  const size_t size = allocator_->GetAllocSize(ref);
  const char* data = reinterpret_cast<const char*>(record);
  // The name must end inside the block.
  if (size < sizeof(PersistentHistogramRecord) || record->name[0] == '\0' ||
      data[size - 1] != '\0') {
    return nullptr;
  }
  const uint64_t id = record->samples_metadata.id.load(
      std::memory_order_relaxed);
  const uint64_t logged_id =
      record->logged_metadata.id.load(std::memory_order_relaxed);
  if (id == 0 || logged_id == 0) return nullptr;
  if (logged_id != id && logged_id != id + 1) return nullptr;
  if (MetricNameHash64(record->name) != id) return nullptr;
  return CreateHistogram(record);
}

std::unique_ptr<HistogramBase> PersistentHistogramStore::CreateHistogram(
    PersistentHistogramRecord* record) {
  const char* name = record->name;
  const uint64_t name_hash = MetricNameHash64(name);

  if (record->histogram_type == SPARSE_HISTOGRAM) {
    auto histogram = std::make_unique<SparseHistogram>(
        this, name, &record->samples_metadata, &record->logged_metadata);
    histogram->SetFlags(record->flags);
    return histogram;
  }

  // Every size from the record is checked in 64 bits, so that a huge
  // bucket count cannot wrap a product into something small that passes.
  const uint32_t bucket_count = record->bucket_count;
  if (bucket_count < 2 || bucket_count > kMaxRecordBuckets) return nullptr;
  const uint64_t ranges_bytes = (uint64_t{bucket_count} + 1) * sizeof(int32_t);
  const auto* entries = static_cast<const int32_t*>(
      static_cast<const PersistentMemoryAllocator*>(allocator_.get())
          ->GetAsObject(record->ranges_ref, kTypeIdRangesArray,
                        ranges_bytes));
  if (entries == nullptr) return nullptr;
  auto ranges = std::make_unique<BucketRanges>(bucket_count + 1);
  for (uint32_t i = 0; i <= bucket_count; ++i) {
    // Boundaries must increase strictly.
    if (i > 0 && entries[i] <= entries[i - 1]) return nullptr;
    ranges->set_range(i, entries[i]);
  }
  // The bucketed kinds clamp samples into 0 to INT32_MAX - 1, which the
  // bucket search requires to lie inside the first and last boundary.
  if (ranges->range(0) != 0 ||
      ranges->range(bucket_count) != HistogramBase::kSampleType_MAX) {
    return nullptr;
  }
  ranges->UpdateChecksum();
  if (ranges->checksum() != record->ranges_checksum) return nullptr;

  const uint32_t counts_ref = record->counts_ref.load(std::memory_order_acquire);
  const uint64_t counts_bytes = uint64_t{bucket_count} * 2 * sizeof(int32_t);
  if (counts_bytes > UINT32_MAX) return nullptr;
  if (counts_ref != 0 &&
      static_cast<const PersistentMemoryAllocator*>(allocator_.get())
              ->GetAsObject(counts_ref, kTypeIdCountsArray, counts_bytes) ==
          nullptr) {
    return nullptr;
  }

  const HistogramType type = static_cast<HistogramType>(record->histogram_type);
  if (type != HISTOGRAM && type != LINEAR_HISTOGRAM &&
      type != BOOLEAN_HISTOGRAM && type != CUSTOM_HISTOGRAM) {
    return nullptr;
  }

  const BucketRanges* registered_ranges =
      StatisticsRecorder::RegisterRangesOrDiscardDuplicate(ranges.release());
  LazyPersistentBlock unlogged_counts(allocator_.get(), &record->counts_ref,
                                      kTypeIdCountsArray, counts_bytes, 0,
                                      /*make_iterable=*/false);
  LazyPersistentBlock logged_counts(allocator_.get(), &record->counts_ref,
                                    kTypeIdCountsArray, counts_bytes,
                                    uint64_t{bucket_count} * sizeof(int32_t),
                                    /*make_iterable=*/false);
  auto unlogged = std::make_unique<PersistentSampleVector>(
      name_hash, registered_ranges, &record->samples_metadata,
      unlogged_counts);
  auto logged = std::make_unique<PersistentSampleVector>(
      name_hash, registered_ranges, &record->logged_metadata, logged_counts);

  std::unique_ptr<HistogramBase> histogram;
  switch (type) {
    case HISTOGRAM:
      histogram = std::make_unique<Histogram>(
          name, registered_ranges, std::move(unlogged), std::move(logged));
      break;
    case LINEAR_HISTOGRAM:
      histogram = std::make_unique<LinearHistogram>(
          name, registered_ranges, std::move(unlogged), std::move(logged));
      break;
    case BOOLEAN_HISTOGRAM:
      histogram = std::make_unique<BooleanHistogram>(
          name, registered_ranges, std::move(unlogged), std::move(logged));
      break;
    default:
      histogram = std::make_unique<CustomHistogram>(
          name, registered_ranges, std::move(unlogged), std::move(logged));
      break;
  }
  histogram->SetFlags(record->flags);
  return histogram;
}

void PersistentHistogramStore::ImportHistogramsToRecorder() {
  // The histogram this store made last is being registered by its factory.
  const Reference skip = last_created_.load(std::memory_order_relaxed);
  for (;;) {
    const Reference ref = import_iterator_.GetNextOfType(kTypeIdHistogram);
    if (ref == PersistentMemoryAllocator::kReferenceNull) return;
    if (ref == skip) continue;
    std::unique_ptr<HistogramBase> histogram = GetHistogram(ref);
    if (!histogram) continue;
    StatisticsRecorder::RegisterOrDiscardDuplicate(histogram.release());
  }
}

}  // namespace kelmbase

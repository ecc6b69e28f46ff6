#include "agent/base/metrics/sample_vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "agent/base/memory/cache_line.h"
#include "agent/base/memory/lazy_singleton.h"
#include "agent/base/strings/string_printf.h"
#include "agent/base/synchronization/lock.h"
#include "logging/check.h"

namespace kelmbase {

namespace {

constexpr int kBarWidth = 72;

// One lock for the one-time creation of every vector's counts array.
LazySingleton<Lock> g_counts_lock;

int32_t LoadCount(const int32_t* cell) {
  return std::atomic_ref<int32_t>(*const_cast<int32_t*>(cell))
      .load(std::memory_order_relaxed);
}

// Adds with wrapping and returns the old value.
int32_t AddCount(int32_t* cell, int32_t count) {
  return std::atomic_ref<int32_t>(*cell).fetch_add(count,
                                                  std::memory_order_relaxed);
}

int32_t WrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) +
                              static_cast<uint32_t>(b));
}

int32_t WrappingNegate(int32_t a) {
  return static_cast<int32_t>(0 - static_cast<uint32_t>(a));
}

}  // namespace

SampleVectorBase::SampleVectorBase(uint64_t id, SamplesMetadata* meta,
                                   const BucketRanges* bucket_ranges)
    : HistogramSamples(id, meta), bucket_ranges_(bucket_ranges) {
  CHECK(bucket_ranges_->bucket_count() >= 1u);
}

SampleVectorBase::~SampleVectorBase() = default;

size_t SampleVectorBase::BucketIndexOf(int32_t value) const {
  const size_t bucket_count = bucket_ranges_->bucket_count();
  CHECK(bucket_count >= 1u);
  CHECK(value >= bucket_ranges_->range(0));
  CHECK(value < bucket_ranges_->range(bucket_count));

  // Every bucket below the last holds exactly one value: no search.
  if (bucket_ranges_->range(bucket_count - 1) ==
      static_cast<int32_t>(bucket_count - 1)) {
    if (value < 1) return 0;
    return std::min(static_cast<size_t>(value), bucket_count - 1);
  }

  // Binary search for the last boundary at or below the value. Each step
  // is a select rather than a branch (samples land in unpredictable
  // buckets, and a mispredicted branch per step would cost more than the
  // whole add), and only `mid` depends on the data, which keeps the chain
  // of dependent loads short.
  const int32_t* ranges = bucket_ranges_->ranges().data();
  size_t mid = 0;
  size_t length = bucket_count;
  while (length > 1) {
    const size_t half = length / 2;
    mid = ranges[mid + half] <= value ? mid + half : mid;
    length -= half;
  }
  CHECK(bucket_ranges_->range(mid + 1) > value);
  return mid;
}

size_t SampleVectorBase::CheckedBucketIndexOf(int32_t value) const {
  const size_t bucket_count = bucket_ranges_->bucket_count();
  if (value < bucket_ranges_->range(0) ||
      value >= bucket_ranges_->range(bucket_count)) {
    return bucket_count;
  }
  return BucketIndexOf(value);
}

void SampleVectorBase::EnsureCountsStorage() {
  if (counts() == nullptr) {
    Lock& lock = g_counts_lock.Get();
    ScopedLock hold(lock);
    if (counts() == nullptr) set_counts(CreateCountsStorage());
  }
  SpillSingleSample();
}

void SampleVectorBase::SpillSingleSample() {
  const uint32_t word = single_sample().Extract(/*disable=*/true);
  const uint16_t count = SingleSampleWord::CountOf(word);
  const size_t bucket = SingleSampleWord::BucketOf(word);
  // A word from a damaged persistent record may name a bucket that does
  // not exist; its count cannot be placed.
  if (count != 0 && bucket < bucket_count()) AddCount(counts() + bucket, count);
}

void SampleVectorBase::AddCountAt(int32_t value, int32_t count) {
  const size_t bucket = BucketIndexOf(value);
  const int64_t weighted = static_cast<int64_t>(count) * value;

  int32_t* cells = counts();
  if (cells == nullptr) {
    if (single_sample().TryAccumulate(bucket, count)) {
      AddToSumAndCount(weighted, count);
      // A counts array made meanwhile must get the word's samples.
      if (counts() != nullptr) SpillSingleSample();
      return;
    }
    EnsureCountsStorage();
    cells = counts();
  }

  const int32_t old_count = AddCount(cells + bucket, count);
  AddToSumAndCount(weighted, count);
  const int32_t new_count = WrappingAdd(old_count, count);
  if ((old_count < 0) != (new_count < 0) && count > 0) {
    ReportNegativeSample(kCountChangedSign, count);
  }
}

int32_t SampleVectorBase::CountAtIndex(size_t bucket_index) const {
  const uint32_t word = single_sample().Load();
  if (SingleSampleWord::CountOf(word) != 0) {
    return SingleSampleWord::BucketOf(word) == bucket_index
               ? SingleSampleWord::CountOf(word)
               : 0;
  }
  if (counts() == nullptr && !AttachExistingCounts()) return 0;
  return LoadCount(counts() + bucket_index);
}

int32_t SampleVectorBase::CountOf(int32_t value) const {
  return CountAtIndex(BucketIndexOf(value));
}

int32_t SampleVectorBase::TotalCount() const {
  const uint32_t word = single_sample().Load();
  if (SingleSampleWord::CountOf(word) != 0) {
    return SingleSampleWord::CountOf(word);
  }
  if (counts() == nullptr && !AttachExistingCounts()) return 0;
  const int32_t* cells = counts();
  int32_t total = 0;
  for (size_t i = 0; i < bucket_count(); ++i) {
    total = WrappingAdd(total, LoadCount(cells + i));
  }
  return total;
}

int32_t SampleVectorBase::PeakBucketCount() const {
  int32_t peak = 0;
  for (size_t i = 0; i < bucket_count(); ++i) {
    peak = std::max(peak, CountAtIndex(i));
  }
  return peak;
}

std::unique_ptr<SampleCountIterator> SampleVectorBase::MakeIterator() const {
  const uint32_t word = single_sample().Load();
  if (SingleSampleWord::CountOf(word) != 0) {
    const size_t bucket = SingleSampleWord::BucketOf(word);
    if (bucket >= bucket_count()) {
      return std::make_unique<SampleVectorIterator>(nullptr, 0,
                                                    bucket_ranges_);
    }
    return std::make_unique<SingleSampleIterator>(
        bucket_ranges_->range(bucket), bucket_ranges_->range(bucket + 1),
        SingleSampleWord::CountOf(word), bucket);
  }
  if (counts() != nullptr || AttachExistingCounts()) {
    return std::make_unique<SampleVectorIterator>(counts(), bucket_count(),
                                                  bucket_ranges_);
  }
  return std::make_unique<SampleVectorIterator>(nullptr, 0, bucket_ranges_);
}

bool SampleVectorBase::ApplyIterator(SampleCountIterator* iter, Operator op) {
  if (iter->IsDone()) return true;

  int32_t min = 0;
  int64_t max = 0;
  int32_t count = 0;
  iter->Current(&min, &max, &count);
  size_t dest = CheckedBucketIndexOf(min);
  // Where the iterator knows its bucket indexes, they map onto ours by a
  // fixed offset and no search is needed.
  size_t iter_index = 0;
  const bool has_index = iter->BucketIndex(&iter_index);
  const size_t index_offset = dest - iter_index;
  if (dest >= bucket_count()) return false;
  iter->Advance();

  if (counts() == nullptr && iter->IsDone()) {
    // One bucket only: it may fit in the word.
    if (single_sample().TryAccumulate(
            dest, op == ADD ? count : WrappingNegate(count))) {
      if (counts() != nullptr) SpillSingleSample();
      return true;
    }
  }
  EnsureCountsStorage();

  for (;;) {
    if (min != bucket_ranges_->range(dest) ||
        max != bucket_ranges_->range(dest + 1)) {
      return false;
    }
    AddCount(counts() + dest, op == ADD ? count : WrappingNegate(count));
    if (iter->IsDone()) return true;
    iter->Current(&min, &max, &count);
    if (has_index && iter->BucketIndex(&iter_index)) {
      dest = iter_index + index_offset;
    } else {
      dest = CheckedBucketIndexOf(min);
    }
    if (dest >= bucket_count()) return false;
    iter->Advance();
  }
}

std::string SampleVectorBase::WriteTextHeader(StringPiece name,
                                              int32_t flags) const {
  const int32_t total = TotalCount();
  std::string header = FormatString("Histogram: %.*s recorded %d samples",
                                    static_cast<int>(name.size()), name.data(),
                                    total);
  if (total != 0) {
    const float mean = static_cast<float>(sum()) / static_cast<float>(total);
    AppendFormat(&header, ", mean = %.1f", mean);
  }
  if (flags != 0) AppendFormat(&header, " (flags = 0x%x)", flags);
  return header;
}

std::string SampleVectorBase::WriteTextBody() const {
  const size_t buckets = bucket_count();
  // One snapshot, so the lines agree with each other while writers go on.
  std::vector<int32_t> snapshot(buckets);
  for (size_t i = 0; i < buckets; ++i) snapshot[i] = CountAtIndex(i);

  int32_t total = 0;
  int32_t peak = 0;
  for (int32_t count : snapshot) {
    total = WrappingAdd(total, count);
    peak = std::max(peak, count);
  }
  const double scale = peak > kBarWidth ? double{kBarWidth} / peak : 1.0;

  size_t width = 1;
  for (size_t i = 0; i < buckets; ++i) {
    if (snapshot[i] == 0) continue;
    width = std::max(
        width, FormatString("%d", bucket_ranges_->range(i)).size() + 1);
  }

  std::string body;
  int64_t remaining = total;
  int64_t past = 0;
  for (size_t i = 0; i < buckets; ++i) {
    const int32_t count = snapshot[i];
    std::string label = FormatString("%d", bucket_ranges_->range(i));
    label.resize(std::max(label.size(), width + 1), ' ');
    body += label;
    remaining -= count;
    if (count == 0 && i + 1 < buckets && snapshot[i + 1] == 0) {
      while (i + 1 < buckets && snapshot[i + 1] == 0) ++i;
      body += "... \n";
      continue;
    }
    WriteGraph(std::round(scale * count), &body);
    const double percent_unit = (past + count + remaining) / 100.0;
    AppendFormat(&body, " (%d = %3.1f%%)", count, count / percent_unit);
    if (i != 0) AppendFormat(&body, " {%3.1f%%}", past / percent_unit);
    body += "\n";
    past += count;
  }
  return body;
}

SampleVector::SampleVector(const BucketRanges* bucket_ranges)
    : SampleVector(0, bucket_ranges) {}

SampleVector::SampleVector(uint64_t id, const BucketRanges* bucket_ranges)
    : SampleVectorBase(id, &owned_meta, bucket_ranges) {}

SampleVector::~SampleVector() = default;

bool SampleVector::AttachExistingCounts() const {
  return counts() != nullptr;
}

int32_t* SampleVector::CreateCountsStorage() {
  // The array starts on a cache line and fills its last line alone, so that
  // the adds of other threads to it never evict an unrelated heap neighbour
  // from a reader's cache, nor the other way round.
  const size_t bytes =
      (bucket_count() * sizeof(int32_t) + kCacheLineSize - 1) /
      kCacheLineSize * kCacheLineSize;
  void* memory = ::operator new(bytes, std::align_val_t{kCacheLineSize});
  std::memset(memory, 0, bytes);
  counts_storage_.reset(static_cast<int32_t*>(memory));
  return counts_storage_.get();
}

void SampleVector::FreeCounts::operator()(int32_t* counts) const {
  ::operator delete(counts, std::align_val_t{kCacheLineSize});
}

PersistentSampleVector::PersistentSampleVector(
    uint64_t id, const BucketRanges* bucket_ranges, SamplesMetadata* meta,
    const LazyPersistentBlock& counts)
    : SampleVectorBase(id, meta, bucket_ranges), persistent_counts_(counts) {
  // Another user already moved the samples into the counts block.
  if (single_sample().IsDisabled()) AttachExistingCounts();
}

PersistentSampleVector::~PersistentSampleVector() = default;

bool PersistentSampleVector::AttachExistingCounts() const {
  if (persistent_counts_.reference() == 0) return false;
  set_counts(static_cast<int32_t*>(persistent_counts_.Get()));
  return counts() != nullptr;
}

int32_t* PersistentSampleVector::CreateCountsStorage() {
  void* memory = persistent_counts_.Get();
  if (memory != nullptr) return static_cast<int32_t*>(memory);
  // No room in the segment: keep counting on the heap.
  fallback_counts_ = std::make_unique<int32_t[]>(bucket_count());
  return fallback_counts_.get();
}

SampleVectorIterator::SampleVectorIterator(const int32_t* counts,
                                           size_t counts_size,
                                           const BucketRanges* bucket_ranges)
    : counts_(counts),
      counts_size_(counts != nullptr ? counts_size : 0),
      bucket_ranges_(bucket_ranges) {
  SkipEmptyBuckets();
}

SampleVectorIterator::~SampleVectorIterator() = default;

int32_t SampleVectorIterator::CountAt(size_t index) const {
  return LoadCount(counts_ + index);
}

void SampleVectorIterator::SkipEmptyBuckets() {
  while (index_ < counts_size_ && CountAt(index_) == 0) ++index_;
}

bool SampleVectorIterator::IsDone() const { return index_ >= counts_size_; }

void SampleVectorIterator::Advance() {
  ++index_;
  SkipEmptyBuckets();
}

void SampleVectorIterator::Current(int32_t* min, int64_t* max,
                                   int32_t* count) const {
  if (min != nullptr) *min = bucket_ranges_->range(index_);
  if (max != nullptr) *max = bucket_ranges_->range(index_ + 1);
  if (count != nullptr) *count = CountAt(index_);
}

bool SampleVectorIterator::BucketIndex(size_t* index) const {
  *index = index_;
  return true;
}

}  // namespace kelmbase

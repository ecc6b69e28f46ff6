#ifndef AGENT_BASE_METRICS_SAMPLE_VECTOR_H_
#define AGENT_BASE_METRICS_SAMPLE_VECTOR_H_

// Samples of the bucketed histograms: a fixed bucket layout given by a
// shared BucketRanges. A vector starts with the single packed (bucket,
// count) word of its metadata and switches to a full counts array only when
// a second bucket is hit (or the word's count would overflow); so a
// histogram that only ever sees one bucket is one atomic word.
//
// Any thread may add samples without a lock: the word changes by
// compare-and-swap, counts cells by relaxed atomic adds, the sum and the
// redundant count by atomic adds. The counts array is made at most once per
// vector under one process-wide lock and published with a release store; a
// writer that succeeded on the word re-checks for an array afterwards and
// moves the word into it, so no sample is lost in the switch.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/base/metrics/bucket_ranges.h"
#include "agent/base/metrics/histogram_samples.h"
#include "agent/base/metrics/persistent_memory_allocator.h"

namespace kelmbase {

class SampleVectorBase : public HistogramSamples {
 public:
  // `bucket_ranges` must have at least one bucket (fatal CHECK) and outlive
  // the vector.
  SampleVectorBase(uint64_t id, SamplesMetadata* meta,
                   const BucketRanges* bucket_ranges);
  ~SampleVectorBase() override;

  // `value` must lie within the ranges (fatal CHECK). Final, like the
  // bucket search: every sample of a bucketed histogram comes through here,
  // and calls that the compiler can bind directly cost less.
  void AddCountAt(int32_t value, int32_t count) final;
  int32_t CountOf(int32_t value) const override;
  // The word's count, or the wrapping sum of all buckets.
  int32_t TotalCount() const override;
  std::unique_ptr<SampleCountIterator> MakeIterator() const override;
  bool ApplyIterator(SampleCountIterator* iter, Operator op) override;
  // Adds ", mean = %.1f" before the flags when there are samples.
  std::string WriteTextHeader(StringPiece name, int32_t flags) const override;
  std::string WriteTextBody() const override;

  int32_t CountAtIndex(size_t bucket_index) const;
  // The largest bucket count (0 when none is positive).
  int32_t PeakBucketCount() const;

  const BucketRanges* bucket_ranges() const { return bucket_ranges_; }
  size_t bucket_count() const { return bucket_ranges_->bucket_count(); }

 protected:
  // The bucket that holds `value`; fatal CHECK outside the ranges.
  virtual size_t BucketIndexOf(int32_t value) const final;
  // Points the counts at storage that already exists elsewhere; whether the
  // counts are now set.
  virtual bool AttachExistingCounts() const = 0;
  // Zeroed storage for bucket_count() counts; called once, under the
  // process-wide counts lock.
  virtual int32_t* CreateCountsStorage() = 0;

  int32_t* counts() const { return counts_.load(std::memory_order_acquire); }
  void set_counts(int32_t* counts) const {
    counts_.store(counts, std::memory_order_release);
  }
  SingleSampleWord& single_sample() const { return meta()->single_sample; }

 private:
  // The bucket of a value from outside (a pickle, another store), or
  // bucket_count() when the ranges do not hold it.
  size_t CheckedBucketIndexOf(int32_t value) const;
  void EnsureCountsStorage();
  // Moves the word's count into the counts array and disables the word.
  void SpillSingleSample();

  mutable std::atomic<int32_t*> counts_{nullptr};
  const BucketRanges* const bucket_ranges_;
};

// Samples on the heap, with their own metadata and counts.
class SampleVector : private internal::OwnedSamplesMetadata,
                     public SampleVectorBase {
 public:
  // Id 0, for a vector that belongs to no histogram.
  explicit SampleVector(const BucketRanges* bucket_ranges);
  SampleVector(uint64_t id, const BucketRanges* bucket_ranges);
  ~SampleVector() override;

 private:
  bool AttachExistingCounts() const override;
  int32_t* CreateCountsStorage() override;

  // Whole cache lines of their own (see CreateCountsStorage).
  struct FreeCounts {
    void operator()(int32_t* counts) const;
  };
  std::unique_ptr<int32_t[], FreeCounts> counts_storage_;
};

// Samples over a persistent histogram record: the metadata lies in the
// record and the counts in a block made on first use.
class PersistentSampleVector : public SampleVectorBase {
 public:
  PersistentSampleVector(uint64_t id, const BucketRanges* bucket_ranges,
                         SamplesMetadata* meta,
                         const LazyPersistentBlock& counts);
  ~PersistentSampleVector() override;

 private:
  bool AttachExistingCounts() const override;
  int32_t* CreateCountsStorage() override;

  LazyPersistentBlock persistent_counts_;
  // Used only when the segment has no room for the counts.
  std::unique_ptr<int32_t[]> fallback_counts_;
};

// The non-empty buckets of a counts array, in index order.
class SampleVectorIterator : public SampleCountIterator {
 public:
  // `counts` may be null (no buckets).
  SampleVectorIterator(const int32_t* counts, size_t counts_size,
                       const BucketRanges* bucket_ranges);
  ~SampleVectorIterator() override;

  bool IsDone() const override;
  void Advance() override;
  void Current(int32_t* min, int64_t* max, int32_t* count) const override;
  bool BucketIndex(size_t* index) const override;

 private:
  int32_t CountAt(size_t index) const;
  void SkipEmptyBuckets();

  const int32_t* const counts_;
  const size_t counts_size_;
  const BucketRanges* const bucket_ranges_;
  size_t index_ = 0;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_SAMPLE_VECTOR_H_

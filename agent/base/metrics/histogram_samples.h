#ifndef AGENT_BASE_METRICS_HISTOGRAM_SAMPLES_H_
#define AGENT_BASE_METRICS_HISTOGRAM_SAMPLES_H_

// What a histogram has counted: per bucket a 32-bit count, the sum of all
// sample values and a redundant total count kept beside the buckets as a
// cross-check. The stores can be iterated bucket by bucket, added to and
// subtracted from each other, written to and read from a Pickle, and
// printed as a text graph.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/base/memory/cache_line.h"
#include "agent/base/strings/string_piece.h"

namespace kelmbase {

class Pickle;
class PickleReader;
class SampleCountIterator;

// One packed (bucket, count) word: bits 0-15 the bucket index, bits 16-31
// the count. 0 is empty; 0xFFFFFFFF is disabled (the samples have moved to
// a counts array for good). Changed only by compare-and-swap and exchange;
// any thread.
class SingleSampleWord {
 public:
  static constexpr uint32_t kDisabled = 0xFFFFFFFF;
  static constexpr uint32_t kMaxCount = 0xFFFF;
  static constexpr size_t kMaxBucket = 0xFFFF;

  static uint16_t BucketOf(uint32_t word) { return word & 0xFFFF; }
  static uint16_t CountOf(uint32_t word) { return word >> 16; }

  // The word; a disabled word reads as 0.
  uint32_t Load() const;
  // Replaces the word with 0xFFFFFFFF (`disable`) or 0 and returns the old
  // word, 0 when it was disabled.
  uint32_t Extract(bool disable);
  // Adds `count` (which may be negative) to the word's bucket when the word
  // is empty or already holds `bucket` and the result stays within 0-65535.
  // A count of 0 always succeeds.
  bool TryAccumulate(size_t bucket, int32_t count);
  bool IsDisabled() const;

 private:
  std::atomic<uint32_t> word_{0};
};

// The record behind every samples object; also a persistent-memory format
// (two of them sit in each persistent histogram record).
struct SamplesMetadata {
  // The histogram's name hash; 0 until set.
  std::atomic<uint64_t> id{0};
  // The sum of value times count over all samples.
  std::atomic<int64_t> sum{0};
  // The number of samples, beside the bucket counts.
  std::atomic<int32_t> redundant_count{0};
  SingleSampleWord single_sample;
};
static_assert(sizeof(SamplesMetadata) == 24);

namespace internal {
// Holds a heap samples object's own metadata; a base class so that it is
// built before the samples that point at it. Every sample writes the sum
// and the count, so the record gets a cache line of its own: if it shared
// one with the fields that every add reads (the vtable pointer, the counts
// pointer) or with a heap neighbour, each add on one core would take those
// away from the adds running on the others.
struct alignas(kCacheLineSize) OwnedSamplesMetadata {
  SamplesMetadata owned_meta;
};
static_assert(sizeof(OwnedSamplesMetadata) == kCacheLineSize);
}  // namespace internal

class HistogramSamples {
 public:
  enum Operator { ADD, SUBTRACT };

  // Why a count was reported through ReportNegativeSample.
  enum NegativeSampleReason : int32_t {
    // A negative count left a persistent map's cell at or above zero.
    kPersistentMapNegativeCount = 5,
    // A negative count took a persistent map's cell below zero.
    kPersistentMapCellTurnedNegative = 6,
    // An add changed a cell's sign (an int32 overflow).
    kCountChangedSign = 8,
  };

  // A report kept back while the samples' owner holds its lock (see
  // DeferNegativeSampleReports).
  struct DeferredReports {
    static constexpr int kCapacity = 2;
    int count = 0;
    int32_t reason[kCapacity] = {};
    int32_t increment[kCapacity] = {};
    uint64_t id = 0;
    // Records what was kept back; call without any histogram lock held.
    void Flush();
  };

  // Samples over `meta`, which must outlive them. The id is stored into
  // `meta` only when its id is still 0.
  HistogramSamples(uint64_t id, SamplesMetadata* meta);
  HistogramSamples(const HistogramSamples&) = delete;
  HistogramSamples& operator=(const HistogramSamples&) = delete;
  virtual ~HistogramSamples();

  virtual void AddCountAt(int32_t value, int32_t count) = 0;
  virtual int32_t CountOf(int32_t value) const = 0;
  virtual int32_t TotalCount() const = 0;
  // Adds the other's sum, redundant count and buckets (a bucket mismatch is
  // dropped silently).
  virtual void AddAll(const HistogramSamples& other);
  // Reads what WriteToPickle wrote and adds it; false when the sum or count
  // is missing or a bucket does not fit.
  virtual bool AddAllFromPickle(PickleReader* reader);
  virtual void SubtractAll(const HistogramSamples& other);
  virtual std::unique_ptr<SampleCountIterator> MakeIterator() const = 0;
  // int64 sum, int32 redundant count, then per non-empty bucket int32 min,
  // int64 max and int32 count. Returns true.
  virtual bool WriteToPickle(Pickle* pickle) const;
  // Adds or subtracts every bucket of `iter` (not the sum or the count);
  // false on a bucket that does not fit this store.
  virtual bool ApplyIterator(SampleCountIterator* iter, Operator op) = 0;
  // The text graph's lines, one per bucket.
  virtual std::string WriteTextBody() const;
  // "Histogram: <name> recorded <n> samples", then " (flags = 0x..)" when
  // `flags` is nonzero.
  virtual std::string WriteTextHeader(StringPiece name, int32_t flags) const;

  uint64_t id() const { return meta_->id.load(std::memory_order_relaxed); }
  int64_t sum() const { return meta_->sum.load(std::memory_order_relaxed); }
  int32_t redundant_count() const {
    return meta_->redundant_count.load(std::memory_order_relaxed);
  }

  // Atomic adds to the sum and the redundant count (both wrap). Inline: it
  // is on every sample's path.
  void AddToSumAndCount(int64_t sum, int32_t count) {
    meta_->sum.fetch_add(sum, std::memory_order_relaxed);
    meta_->redundant_count.fetch_add(count, std::memory_order_relaxed);
  }

  // Records `reason` in "Vorlum.NegativeSamples.Reason", `increment` in
  // "Vorlum.NegativeSamples.Increment" and the id's low 32 bits in the
  // sparse "Vorlum.NegativeSamples.Histogram". While a DeferredReports is
  // installed, the report is kept there instead.
  void ReportNegativeSample(int32_t reason, int32_t increment);

  // Makes ReportNegativeSample keep its reports in `reports` (null: record
  // at once). An owner that calls into these samples under its own lock
  // installs one, so that a report whose target is that very owner does not
  // take the lock again; it flushes after unlocking. Guarded by the owner.
  void DeferNegativeSampleReports(DeferredReports* reports) {
    deferred_reports_ = reports;
  }

  // Drops the cached pointers to the negative-sample histograms, for tests
  // that empty the statistics recorder.
  static void ForgetNegativeSampleHistogramsForTesting();

 protected:
  SamplesMetadata* meta() const { return meta_; }

  // The graph bar: `x` dashes (clamped to 0-72), "O", then 72 - x spaces.
  static void WriteGraph(double x, std::string* output);

 private:
  static void RecordNegativeSample(int32_t reason, int32_t increment,
                                   uint64_t id);

  SamplesMetadata* const meta_;
  DeferredReports* deferred_reports_ = nullptr;
};

// Walks the non-empty buckets of a samples object, or of a pickle. Bucket
// i spans [min, max) and holds count samples.
class SampleCountIterator {
 public:
  virtual ~SampleCountIterator();
  virtual bool IsDone() const = 0;
  virtual void Advance() = 0;
  // Each output may be null. Only while !IsDone().
  virtual void Current(int32_t* min, int64_t* max, int32_t* count) const = 0;
  // The bucket index, when the iterator knows it.
  virtual bool BucketIndex(size_t* index) const;
};

// One bucket held by value; done once the count is 0.
class SingleSampleIterator : public SampleCountIterator {
 public:
  // `bucket_index` SIZE_MAX means "unknown".
  SingleSampleIterator(int32_t min, int64_t max, int32_t count,
                       size_t bucket_index);
  ~SingleSampleIterator() override;
  bool IsDone() const override;
  void Advance() override;
  void Current(int32_t* min, int64_t* max, int32_t* count) const override;
  bool BucketIndex(size_t* index) const override;

 private:
  const int32_t min_;
  const int64_t max_;
  int32_t count_;
  const size_t bucket_index_;
};

// The (int32 min, int64 max, int32 count) triples of a pickle, read one at
// construction and one at every Advance; done once a read fails.
class SampleCountPickleIterator : public SampleCountIterator {
 public:
  explicit SampleCountPickleIterator(PickleReader* reader);
  ~SampleCountPickleIterator() override;
  bool IsDone() const override;
  void Advance() override;
  void Current(int32_t* min, int64_t* max, int32_t* count) const override;

 private:
  PickleReader* const reader_;
  bool done_ = false;
  int32_t min_ = 0;
  int64_t max_ = 0;
  int32_t count_ = 0;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_HISTOGRAM_SAMPLES_H_

#ifndef AGENT_BASE_METRICS_SAMPLE_MAP_H_
#define AGENT_BASE_METRICS_SAMPLE_MAP_H_

// Samples of sparse histograms: every int32 value is its own bucket. Not
// synchronised: the owning SparseHistogram serialises every access.

#include <cstdint>
#include <map>
#include <memory>

#include "agent/base/metrics/histogram_samples.h"
#include "agent/base/metrics/sample_vector.h"

namespace kelmbase {

class SampleMap : private internal::OwnedSamplesMetadata,
                  public HistogramSamples {
 public:
  SampleMap();
  explicit SampleMap(uint64_t id);
  ~SampleMap() override;

  void AddCountAt(int32_t value, int32_t count) override;
  int32_t CountOf(int32_t value) const override;
  int32_t TotalCount() const override;
  std::unique_ptr<SampleCountIterator> MakeIterator() const override;
  // Buckets must span exactly one value; never reports negative counts.
  bool ApplyIterator(SampleCountIterator* iter, Operator op) override;

 private:
  std::map<int32_t, int32_t> sample_counts_;
};

// The entries of a value-to-count map in ascending value order, skipping
// counts of 0. For a persistent map the counts are read through pointers.
template <typename CountType>
class SampleMapIteratorT : public SampleCountIterator {
 public:
  using Map = std::map<int32_t, CountType>;

  explicit SampleMapIteratorT(const Map& sample_counts)
      : iter_(sample_counts.begin()), end_(sample_counts.end()) {
    SkipEmptyBuckets();
  }
  ~SampleMapIteratorT() override = default;

  bool IsDone() const override { return iter_ == end_; }
  void Advance() override {
    ++iter_;
    SkipEmptyBuckets();
  }
  void Current(int32_t* min, int64_t* max, int32_t* count) const override {
    if (min != nullptr) *min = iter_->first;
    if (max != nullptr) *max = int64_t{iter_->first} + 1;
    if (count != nullptr) *count = CountOf(iter_->second);
  }

 private:
  static int32_t CountOf(int32_t count) { return count; }
  static int32_t CountOf(int32_t* cell) { return *cell; }
  void SkipEmptyBuckets() {
    while (iter_ != end_ && CountOf(iter_->second) == 0) ++iter_;
  }

  typename Map::const_iterator iter_;
  const typename Map::const_iterator end_;
};

using SampleMapIterator = SampleMapIteratorT<int32_t>;
using PersistentSampleMapIterator = SampleMapIteratorT<int32_t*>;

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_SAMPLE_MAP_H_

#ifndef AGENT_BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
#define AGENT_BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_

// Samples of a sparse histogram kept in a persistent segment: each value's
// count lives in a 16-byte sample record, found through the store's record
// directory and imported into a local map of value -> count cell on first
// use. Not synchronised: the owning SparseHistogram serialises access.

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "agent/base/metrics/histogram_samples.h"

namespace kelmbase {

class PersistentHistogramStore;
class SampleRecordSource;

class PersistentSampleMap : public HistogramSamples {
 public:
  // `store` and `meta` must outlive the map.
  PersistentSampleMap(uint64_t id, PersistentHistogramStore* store,
                      SamplesMetadata* meta);
  ~PersistentSampleMap() override;

  // Reports a negative count (reasons 5 and 6) and a cell that changes
  // sign (reason 8).
  void AddCountAt(int32_t value, int32_t count) override;
  int32_t CountOf(int32_t value) const override;
  int32_t TotalCount() const override;
  std::unique_ptr<SampleCountIterator> MakeIterator() const override;
  bool ApplyIterator(SampleCountIterator* iter, Operator op) override;

 private:
  // The cell of `value`, importing records until it is found; null when
  // the segment has none.
  int32_t* GetSampleCountStorage(int32_t value) const;
  // As above, making a record (or a heap cell) when there is none.
  int32_t* GetOrCreateSampleCountStorage(int32_t value);
  // Imports records until `until_value` is met (or all of them with
  // `import_everything`); returns its cell or null.
  int32_t* ImportSamples(int32_t until_value, bool import_everything) const;
  SampleRecordSource* records() const;

  PersistentHistogramStore* const store_;
  mutable SampleRecordSource* records_ = nullptr;
  mutable std::map<int32_t, int32_t*> sample_counts_;
  // Cells used when the segment has no room for a record.
  std::vector<std::unique_ptr<int32_t>> heap_cells_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_

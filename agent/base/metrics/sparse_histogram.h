#ifndef AGENT_BASE_METRICS_SPARSE_HISTOGRAM_H_
#define AGENT_BASE_METRICS_SPARSE_HISTOGRAM_H_

// A histogram in which every int32 value is its own bucket, for values
// spread too widely for fixed buckets (error codes, hashes). Any thread may
// record; the histogram's own lock guards both sample maps.

#include <cstdint>
#include <memory>
#include <string>

#include "agent/base/metrics/histogram_base.h"
#include "agent/base/metrics/histogram_samples.h"
#include "agent/base/synchronization/lock.h"

namespace kelmbase {

class PersistentHistogramStore;

class SparseHistogram : public HistogramBase {
 public:
  // The sparse histogram registered under `name`, made on first use. A name
  // registered with another kind is a fatal CHECK. Never null.
  static HistogramBase* GetOrCreate(const std::string& name, int32_t flags);

  // A heap histogram; `name` must live for ever.
  explicit SparseHistogram(const char* name);
  // Over persistent metadata of `store`; the unlogged samples take the
  // name's hash as id and the logged ones the hash + 1.
  SparseHistogram(PersistentHistogramStore* store, const char* name,
                  SamplesMetadata* meta, SamplesMetadata* logged_meta);
  ~SparseHistogram() override;

  uint64_t NameHash() const override;
  HistogramType GetHistogramType() const override;
  bool MatchesArguments(int32_t minimum, int32_t maximum,
                        uint32_t bucket_count) const override;
  void AddCount(int32_t value, int32_t count) override;
  void AddSamples(const HistogramSamples& samples) override;
  bool AddSamplesFromPickle(PickleReader* reader) override;
  std::unique_ptr<HistogramSamples> CopySamples() const override;
  std::unique_ptr<HistogramSamples> TakeDelta() override;
  std::unique_ptr<HistogramSamples> CopyFinalDelta() override;
  void WriteInfoToPickle(Pickle* pickle) const override;
  void DescribeParameters(Value* params) const override;

 private:
  mutable Lock lock_;
  // Guarded by `lock_`.
  bool final_delta_created_ = false;
  std::unique_ptr<HistogramSamples> unlogged_samples_;
  std::unique_ptr<HistogramSamples> logged_samples_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_SPARSE_HISTOGRAM_H_

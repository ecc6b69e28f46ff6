#ifndef AGENT_BASE_METRICS_DUMMY_HISTOGRAM_H_
#define AGENT_BASE_METRICS_DUMMY_HISTOGRAM_H_

#include <cstdint>
#include <memory>

#include "agent/base/metrics/histogram_base.h"
#include "agent/base/metrics/histogram_samples.h"

namespace kelmbase {

// The histogram handed out for refused or mismatched requests: accepts
// every sample and drops it. One process-wide instance named
// "dummy_histogram", made on first use and never destroyed; any thread.
class DummyHistogram : public HistogramBase {
 public:
  static HistogramBase* GetInstance();

  ~DummyHistogram() override;

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
  void WriteGraphText(std::string* output) const override;
  Value BuildGraphDict() const override;
  void WriteInfoToPickle(Pickle* pickle) const override;
  void DescribeParameters(Value* params) const override;

 private:
  DummyHistogram();
};

// Samples that count nothing: id 0, every count 0, every add dropped.
class DummyHistogramSamples : private internal::OwnedSamplesMetadata,
                              public HistogramSamples {
 public:
  DummyHistogramSamples();
  ~DummyHistogramSamples() override;

  void AddCountAt(int32_t value, int32_t count) override;
  int32_t CountOf(int32_t value) const override;
  int32_t TotalCount() const override;
  std::unique_ptr<SampleCountIterator> MakeIterator() const override;
  bool ApplyIterator(SampleCountIterator* iter, Operator op) override;
};

// Done from the start.
class DummySampleCountIterator : public SampleCountIterator {
 public:
  ~DummySampleCountIterator() override;
  bool IsDone() const override;
  void Advance() override;
  void Current(int32_t* min, int64_t* max, int32_t* count) const override;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_DUMMY_HISTOGRAM_H_

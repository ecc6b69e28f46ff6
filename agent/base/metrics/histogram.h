#ifndef AGENT_BASE_METRICS_HISTOGRAM_H_
#define AGENT_BASE_METRICS_HISTOGRAM_H_

// The bucketed histogram kinds: exponential buckets (Histogram), linear
// buckets with optional labels (LinearHistogram), and two kinds that only
// persistent records produce (BooleanHistogram, CustomHistogram).
//
// Recording (Add, AddCount) is lock-free and may happen on any thread; the
// sample stores are atomic. Values outside 0 to INT32_MAX - 1 are clamped.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "agent/base/metrics/bucket_ranges.h"
#include "agent/base/metrics/histogram_base.h"
#include "agent/base/metrics/sample_vector.h"
#include "agent/base/strings/string_piece.h"

namespace kelmbase {

class Histogram : public HistogramBase {
 public:
  class Factory;

  // The histogram registered under `name`, made with exponential buckets on
  // first use. The arguments go through CheckConstructionArguments first
  // (the corrected values are used). A name registered with another kind or
  // other arguments gets the dummy histogram, and the mismatch is reported.
  // Never null. Any thread.
  static HistogramBase* GetOrCreate(const std::string& name, int32_t minimum,
                                    int32_t maximum, uint32_t bucket_count,
                                    int32_t flags);
  static HistogramBase* GetOrCreate(const char* name, int32_t minimum,
                                    int32_t maximum, uint32_t bucket_count,
                                    int32_t flags);

  // Corrects bad arguments in place and reports them through the sparse
  // self-report histograms; false when any was bad (see the .cc).
  static bool CheckConstructionArguments(StringPiece name, int32_t* minimum,
                                         int32_t* maximum,
                                         uint32_t* bucket_count);

  // Fills `ranges` (bucket count + 1 zero entries) with exponentially
  // growing boundaries from `minimum` to `maximum`, then its checksum.
  static void InitializeExponentialRanges(int32_t minimum, int32_t maximum,
                                          BucketRanges* ranges);

  // A heap histogram; `name` must live for ever, `ranges` must be the
  // registered instance.
  Histogram(const char* name, const BucketRanges* ranges);
  // Over given sample stores (persistent ones).
  Histogram(const char* name, const BucketRanges* ranges,
            std::unique_ptr<SampleVectorBase> unlogged_samples,
            std::unique_ptr<SampleVectorBase> logged_samples);
  ~Histogram() override;

  uint64_t NameHash() const override;
  HistogramType GetHistogramType() const override;
  bool MatchesArguments(int32_t minimum, int32_t maximum,
                        uint32_t bucket_count) const override;
  void AddCount(int32_t value, int32_t count) override;
  void AddSamples(const HistogramSamples& samples) override;
  bool AddSamplesFromPickle(PickleReader* reader) override;
  int32_t CheckForCorruption(const HistogramSamples& samples) const override;
  std::unique_ptr<HistogramSamples> CopySamples() const override;
  std::unique_ptr<HistogramSamples> TakeDelta() override;
  std::unique_ptr<HistogramSamples> CopyFinalDelta() override;
  void CheckSampleStorage() const override;
  void WriteInfoToPickle(Pickle* pickle) const override;
  void DescribeParameters(Value* params) const override;

  // The i-th boundary, the number of buckets, and the text label of bucket
  // i ("%d" of its boundary).
  virtual int32_t range(size_t i) const;
  virtual size_t bucket_count() const;
  virtual std::string BucketLabel(size_t i) const;

  // range(1) and range(bucket_count() - 1), or -1 with fewer than 2
  // buckets.
  int32_t declared_min() const;
  int32_t declared_max() const;
  const BucketRanges* bucket_ranges() const { return bucket_ranges_; }
  const SampleVectorBase* unlogged_samples() const {
    return unlogged_samples_.get();
  }

 private:
  const BucketRanges* const bucket_ranges_;
  std::unique_ptr<SampleVectorBase> unlogged_samples_;
  std::unique_ptr<SampleVectorBase> logged_samples_;
};

// A short-lived builder on the caller's stack: finds the registered
// histogram or makes, fills and registers a new one.
class Histogram::Factory {
 public:
  Factory(const std::string& name, HistogramType type, int32_t minimum,
          int32_t maximum, uint32_t bucket_count, int32_t flags);
  Factory(const Factory&) = delete;
  Factory& operator=(const Factory&) = delete;
  virtual ~Factory();

  HistogramBase* Build();

 protected:
  // New ranges of bucket count + 1 entries, filled for this kind.
  virtual BucketRanges* CreateRanges();
  // A new heap histogram over the registered `ranges`.
  virtual std::unique_ptr<HistogramBase> HeapAlloc(const BucketRanges* ranges);
  // Finishes a new histogram before it is registered.
  virtual void FillHistogram(HistogramBase* histogram);

  const std::string& name_;
  const HistogramType histogram_type_;
  int32_t minimum_;
  int32_t maximum_;
  uint32_t bucket_count_;
  int32_t flags_;
};

class LinearHistogram : public Histogram {
 public:
  // A label for the bucket that starts at `value`; an array of them ends
  // with an entry whose text is null.
  struct DescriptionEntry {
    int32_t value;
    const char* description;
  };

  // Like Histogram::GetOrCreate with linear buckets; maximum 1 with 2
  // buckets becomes maximum 2 with 3 buckets before the checks. A new
  // histogram copies the labels in `descriptions` (may be null).
  static HistogramBase* GetOrCreate(const std::string& name, int32_t minimum,
                                    int32_t maximum, uint32_t bucket_count,
                                    int32_t flags,
                                    const DescriptionEntry* descriptions);
  static HistogramBase* GetOrCreate(const char* name, int32_t minimum,
                                    int32_t maximum, uint32_t bucket_count,
                                    int32_t flags);

  // Fills `ranges` (bucket count >= 3) with evenly spaced boundaries from
  // `minimum` to `maximum`, then its checksum.
  static void InitializeLinearRanges(int32_t minimum, int32_t maximum,
                                     BucketRanges* ranges);

  LinearHistogram(const char* name, const BucketRanges* ranges);
  LinearHistogram(const char* name, const BucketRanges* ranges,
                  std::unique_ptr<SampleVectorBase> unlogged_samples,
                  std::unique_ptr<SampleVectorBase> logged_samples);
  ~LinearHistogram() override;

  HistogramType GetHistogramType() const override;
  // The label stored for range(i), else "%d" of range(i).
  std::string BucketLabel(size_t i) const override;

  // Only before the histogram is registered (the factory does it).
  void SetBucketDescription(int32_t value, const std::string& description);

 private:
  class LinearFactory;

  std::map<int32_t, std::string> bucket_descriptions_;
};

// A linear histogram of 0/1 samples; only rebuilt from persistent records.
class BooleanHistogram : public LinearHistogram {
 public:
  using LinearHistogram::LinearHistogram;
  ~BooleanHistogram() override;
  HistogramType GetHistogramType() const override;
};

// Histogram with arbitrary boundaries; only rebuilt from persistent records.
class CustomHistogram : public Histogram {
 public:
  using Histogram::Histogram;
  ~CustomHistogram() override;
  HistogramType GetHistogramType() const override;
  // Adds every inner boundary after the common fields.
  void WriteInfoToPickle(Pickle* pickle) const override;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_HISTOGRAM_H_

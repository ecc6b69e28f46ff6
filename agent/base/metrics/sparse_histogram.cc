#include "agent/base/metrics/sparse_histogram.h"

#include "agent/base/metrics/dummy_histogram.h"
#include "agent/base/metrics/metrics_hashes.h"
#include "agent/base/metrics/persistent_histogram_store.h"
#include "agent/base/metrics/persistent_sample_map.h"
#include "agent/base/metrics/sample_map.h"
#include "agent/base/metrics/statistics_recorder.h"
#include "agent/base/pickle.h"
#include "agent/base/values.h"
#include "logging/check.h"

namespace kelmbase {

HistogramBase* SparseHistogram::GetOrCreate(const std::string& name,
                                            int32_t flags) {
  HistogramBase* histogram = StatisticsRecorder::Find(name);
  if (histogram == nullptr) {
    if (!StatisticsRecorder::ShouldRecord(MetricNameHash32(name))) {
      return DummyHistogram::GetInstance();
    }
    std::unique_ptr<HistogramBase> fresh;
    PersistentMemoryAllocator::Reference record = 0;
    if (PersistentHistogramStore* store =
            PersistentHistogramStore::GetGlobal()) {
      fresh = store->AllocateHistogram(SPARSE_HISTOGRAM, name, 0, 0, nullptr,
                                       flags, &record);
    }
    if (!fresh) {
      fresh = std::make_unique<SparseHistogram>(InternHistogramName(name));
      fresh->SetFlags(flags & ~kIsPersistent);
    }
    HistogramBase* candidate = fresh.release();
    histogram = StatisticsRecorder::RegisterOrDiscardDuplicate(candidate);
    if (record != 0) {
      PersistentHistogramStore::GetGlobal()->FinalizeHistogram(
          record, histogram == candidate);
    }
  }
  CHECK(SPARSE_HISTOGRAM == histogram->GetHistogramType());
  return histogram;
}

SparseHistogram::SparseHistogram(const char* name)
    : HistogramBase(name),
      unlogged_samples_(std::make_unique<SampleMap>(MetricNameHash64(name))),
      logged_samples_(std::make_unique<SampleMap>(MetricNameHash64(name))) {}

SparseHistogram::SparseHistogram(PersistentHistogramStore* store,
                                 const char* name, SamplesMetadata* meta,
                                 SamplesMetadata* logged_meta)
    : HistogramBase(name),
      unlogged_samples_(std::make_unique<PersistentSampleMap>(
          MetricNameHash64(name), store, meta)),
      logged_samples_(std::make_unique<PersistentSampleMap>(
          MetricNameHash64(name) + 1, store, logged_meta)) {}

SparseHistogram::~SparseHistogram() = default;

uint64_t SparseHistogram::NameHash() const { return unlogged_samples_->id(); }

HistogramType SparseHistogram::GetHistogramType() const {
  return SPARSE_HISTOGRAM;
}

bool SparseHistogram::MatchesArguments(int32_t minimum, int32_t maximum,
                                       uint32_t bucket_count) const {
  return false;
}

void SparseHistogram::AddCount(int32_t value, int32_t count) {
  if (count < 1) return;
  // A persistent store may report a count that changed sign; the report
  // goes to a sparse histogram, possibly this one, so it waits until the
  // lock is released.
  HistogramSamples::DeferredReports reports;
  {
    ScopedLock hold(lock_);
    unlogged_samples_->DeferNegativeSampleReports(&reports);
    unlogged_samples_->AddCountAt(value, count);
    unlogged_samples_->DeferNegativeSampleReports(nullptr);
  }
  reports.Flush();
  if (StatisticsRecorder::callbacks_active()) RunSampleCallbacks(value);
}

void SparseHistogram::AddSamples(const HistogramSamples& samples) {
  ScopedLock hold(lock_);
  unlogged_samples_->AddAll(samples);
}

bool SparseHistogram::AddSamplesFromPickle(PickleReader* reader) {
  ScopedLock hold(lock_);
  return unlogged_samples_->AddAllFromPickle(reader);
}

std::unique_ptr<HistogramSamples> SparseHistogram::CopySamples() const {
  auto copy = std::make_unique<SampleMap>(unlogged_samples_->id());
  ScopedLock hold(lock_);
  copy->AddAll(*unlogged_samples_);
  copy->AddAll(*logged_samples_);
  return copy;
}

std::unique_ptr<HistogramSamples> SparseHistogram::TakeDelta() {
  auto delta = std::make_unique<SampleMap>(unlogged_samples_->id());
  ScopedLock hold(lock_);
  delta->AddAll(*unlogged_samples_);
  unlogged_samples_->SubtractAll(*delta);
  logged_samples_->AddAll(*delta);
  return delta;
}

std::unique_ptr<HistogramSamples> SparseHistogram::CopyFinalDelta() {
  auto delta = std::make_unique<SampleMap>(unlogged_samples_->id());
  ScopedLock hold(lock_);
  final_delta_created_ = true;
  delta->AddAll(*unlogged_samples_);
  return delta;
}

void SparseHistogram::WriteInfoToPickle(Pickle* pickle) const {
  pickle->WriteString(histogram_name());
  pickle->WriteInt(flags());
}

void SparseHistogram::DescribeParameters(Value* params) const {
  params->SetStringKey("type", HistogramTypeName(GetHistogramType()));
}

}  // namespace kelmbase

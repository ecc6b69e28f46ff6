#include "agent/base/metrics/histogram_samples.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "agent/base/metrics/histogram.h"
#include "agent/base/metrics/histogram_functions.h"
#include "agent/base/pickle.h"
#include "agent/base/strings/string_printf.h"

namespace kelmbase {

namespace {

// The width of a graph bar at full scale.
constexpr int kBarWidth = 72;

std::atomic<HistogramBase*> g_negative_reason_histogram{nullptr};
std::atomic<HistogramBase*> g_negative_increment_histogram{nullptr};

}  // namespace

uint32_t SingleSampleWord::Load() const {
  const uint32_t word = word_.load(std::memory_order_acquire);
  return word == kDisabled ? 0 : word;
}

uint32_t SingleSampleWord::Extract(bool disable) {
  const uint32_t old =
      word_.exchange(disable ? kDisabled : 0, std::memory_order_acq_rel);
  return old == kDisabled ? 0 : old;
}

bool SingleSampleWord::IsDisabled() const {
  return word_.load(std::memory_order_acquire) == kDisabled;
}

bool SingleSampleWord::TryAccumulate(size_t bucket, int32_t count) {
  if (count == 0) return true;
  if (count > static_cast<int32_t>(kMaxCount) ||
      count < -static_cast<int32_t>(kMaxCount) || bucket > kMaxBucket) {
    return false;
  }
  uint32_t old = word_.load(std::memory_order_acquire);
  for (;;) {
    if (old == kDisabled) return false;
    if (old != 0 && BucketOf(old) != bucket) return false;
    const int32_t new_count = static_cast<int32_t>(CountOf(old)) + count;
    if (new_count < 0 || new_count > static_cast<int32_t>(kMaxCount)) {
      return false;
    }
    const uint32_t word =
        (static_cast<uint32_t>(new_count) << 16) | static_cast<uint32_t>(bucket);
    if (word == kDisabled) return false;
    if (word_.compare_exchange_weak(old, word, std::memory_order_acq_rel,
                                    std::memory_order_acquire)) {
      return true;
    }
  }
}

void HistogramSamples::DeferredReports::Flush() {
  for (int i = 0; i < count; ++i) {
    HistogramSamples::RecordNegativeSample(reason[i], increment[i], id);
  }
  count = 0;
}

HistogramSamples::HistogramSamples(uint64_t id, SamplesMetadata* meta)
    : meta_(meta) {
  uint64_t unset = 0;
  meta_->id.compare_exchange_strong(unset, id, std::memory_order_relaxed);
}

HistogramSamples::~HistogramSamples() = default;

void HistogramSamples::AddAll(const HistogramSamples& other) {
  AddToSumAndCount(other.sum(), other.redundant_count());
  std::unique_ptr<SampleCountIterator> iter = other.MakeIterator();
  ApplyIterator(iter.get(), ADD);
}

void HistogramSamples::SubtractAll(const HistogramSamples& other) {
  // Negated with wrapping, like the atomic adds themselves.
  AddToSumAndCount(
      static_cast<int64_t>(0 - static_cast<uint64_t>(other.sum())),
      static_cast<int32_t>(0 - static_cast<uint32_t>(other.redundant_count())));
  std::unique_ptr<SampleCountIterator> iter = other.MakeIterator();
  ApplyIterator(iter.get(), SUBTRACT);
}

bool HistogramSamples::AddAllFromPickle(PickleReader* reader) {
  int64_t sum = 0;
  int32_t count = 0;
  if (!reader->ReadInt64(&sum) || !reader->ReadInt(&count)) return false;
  AddToSumAndCount(sum, count);
  SampleCountPickleIterator iter(reader);
  return ApplyIterator(&iter, ADD);
}

bool HistogramSamples::WriteToPickle(Pickle* pickle) const {
  pickle->WriteInt64(sum());
  pickle->WriteInt(redundant_count());
  std::unique_ptr<SampleCountIterator> iter = MakeIterator();
  for (; !iter->IsDone(); iter->Advance()) {
    int32_t min = 0;
    int64_t max = 0;
    int32_t count = 0;
    iter->Current(&min, &max, &count);
    pickle->WriteInt(min);
    pickle->WriteInt64(max);
    pickle->WriteInt(count);
  }
  return true;
}

std::string HistogramSamples::WriteTextHeader(StringPiece name,
                                              int32_t flags) const {
  std::string header = FormatString("Histogram: %.*s recorded %d samples",
                                    static_cast<int>(name.size()), name.data(),
                                    TotalCount());
  if (flags != 0) AppendFormat(&header, " (flags = 0x%x)", flags);
  return header;
}

void HistogramSamples::WriteGraph(double x, std::string* output) {
  // A negative count (after a subtraction or a wrap) draws no bar rather
  // than asking for a negative number of dashes.
  const int dashes = static_cast<int>(std::clamp(x, 0.0, double{kBarWidth}));
  output->append(dashes, '-');
  output->append("O");
  output->append(kBarWidth - dashes, ' ');
}

std::string HistogramSamples::WriteTextBody() const {
  int32_t largest_min = 0;
  int32_t peak = 0;
  std::unique_ptr<SampleCountIterator> iter = MakeIterator();
  for (; !iter->IsDone(); iter->Advance()) {
    int32_t min = 0;
    int32_t count = 0;
    iter->Current(&min, nullptr, &count);
    largest_min = std::max(largest_min, min);
    peak = std::max(peak, count);
  }
  const double scale = peak < kBarWidth + 1 ? 1.0 : double{kBarWidth} / peak;
  const int width =
      static_cast<int>(FormatString("%d", largest_min).size());
  const int32_t total = TotalCount();

  std::string body;
  for (iter = MakeIterator(); !iter->IsDone(); iter->Advance()) {
    int32_t min = 0;
    int32_t count = 0;
    iter->Current(&min, nullptr, &count);
    std::string label = FormatString("%d", min);
    label.resize(std::max<size_t>(label.size(), width + 2), ' ');
    body += label;
    WriteGraph(std::round(scale * count), &body);
    AppendFormat(&body, " (%d = %3.1f%%)\n", count, count / (total / 100.0));
  }
  return body;
}

void HistogramSamples::ReportNegativeSample(int32_t reason,
                                            int32_t increment) {
  if (deferred_reports_ != nullptr &&
      deferred_reports_->count < DeferredReports::kCapacity) {
    DeferredReports& reports = *deferred_reports_;
    reports.reason[reports.count] = reason;
    reports.increment[reports.count] = increment;
    reports.id = id();
    ++reports.count;
    return;
  }
  RecordNegativeSample(reason, increment, id());
}

void HistogramSamples::RecordNegativeSample(int32_t reason, int32_t increment,
                                            uint64_t id) {
  HistogramBase* reasons =
      g_negative_reason_histogram.load(std::memory_order_acquire);
  if (reasons == nullptr) {
    reasons = LinearHistogram::GetOrCreate(
        "Vorlum.NegativeSamples.Reason", 1, 9, 10,
        HistogramBase::kUmaTargetedHistogramFlag);
    g_negative_reason_histogram.store(reasons, std::memory_order_release);
  }
  HistogramBase* increments =
      g_negative_increment_histogram.load(std::memory_order_acquire);
  if (increments == nullptr) {
    increments = Histogram::GetOrCreate(
        "Vorlum.NegativeSamples.Increment", 1, 1 << 30, 100,
        HistogramBase::kUmaTargetedHistogramFlag);
    g_negative_increment_histogram.store(increments,
                                         std::memory_order_release);
  }
  reasons->Add(reason);
  increments->Add(increment);
  RecordSparseSample("Vorlum.NegativeSamples.Histogram",
                     static_cast<int32_t>(static_cast<uint32_t>(id)));
}

void HistogramSamples::ForgetNegativeSampleHistogramsForTesting() {
  g_negative_reason_histogram.store(nullptr);
  g_negative_increment_histogram.store(nullptr);
}

SampleCountIterator::~SampleCountIterator() = default;

bool SampleCountIterator::BucketIndex(size_t* index) const { return false; }

SingleSampleIterator::SingleSampleIterator(int32_t min, int64_t max,
                                           int32_t count, size_t bucket_index)
    : min_(min), max_(max), count_(count), bucket_index_(bucket_index) {}

SingleSampleIterator::~SingleSampleIterator() = default;

bool SingleSampleIterator::IsDone() const { return count_ == 0; }

void SingleSampleIterator::Advance() { count_ = 0; }

void SingleSampleIterator::Current(int32_t* min, int64_t* max,
                                   int32_t* count) const {
  if (min != nullptr) *min = min_;
  if (max != nullptr) *max = max_;
  if (count != nullptr) *count = count_;
}

bool SingleSampleIterator::BucketIndex(size_t* index) const {
  if (bucket_index_ == SIZE_MAX) return false;
  *index = bucket_index_;
  return true;
}

SampleCountPickleIterator::SampleCountPickleIterator(PickleReader* reader)
    : reader_(reader) {
  Advance();
}

SampleCountPickleIterator::~SampleCountPickleIterator() = default;

bool SampleCountPickleIterator::IsDone() const { return done_; }

void SampleCountPickleIterator::Advance() {
  if (done_) return;
  if (!reader_->ReadInt(&min_) || !reader_->ReadInt64(&max_) ||
      !reader_->ReadInt(&count_)) {
    done_ = true;
  }
}

void SampleCountPickleIterator::Current(int32_t* min, int64_t* max,
                                        int32_t* count) const {
  if (min != nullptr) *min = min_;
  if (max != nullptr) *max = max_;
  if (count != nullptr) *count = count_;
}

}  // namespace kelmbase

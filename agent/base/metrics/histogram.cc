#include "agent/base/metrics/histogram.h"

#include <cmath>
#include <cstring>

#include "agent/base/debug/keep_value_alive.h"
#include "agent/base/metrics/dummy_histogram.h"
#include "agent/base/metrics/histogram_functions.h"
#include "agent/base/metrics/metrics_hashes.h"
#include "agent/base/metrics/persistent_histogram_store.h"
#include "agent/base/metrics/statistics_recorder.h"
#include "agent/base/pickle.h"
#include "agent/base/strings/string_printf.h"
#include "agent/base/values.h"
#include "logging/check.h"

namespace kelmbase {

namespace {

// Bucket counts above this are reported, and cut down unless the name is
// exempt.
constexpr uint32_t kMaxBucketCount = 1002;
constexpr uint32_t kFallbackBucketCount = 102;

// Use counters legitimately have very many buckets: reported, not cut.
bool HasExemptPrefix(StringPiece name) {
  static constexpr char kPrefix[] = "Skellat.UseCounter";
  constexpr size_t kLength = sizeof(kPrefix) - 1;
  return name.size() >= kLength && memcmp(name.data(), kPrefix, kLength) == 0;
}

}  // namespace

// --- Histogram -------------------------------------------------------------

HistogramBase* Histogram::GetOrCreate(const std::string& name,
                                      int32_t minimum, int32_t maximum,
                                      uint32_t bucket_count, int32_t flags) {
  CheckConstructionArguments(name, &minimum, &maximum, &bucket_count);
  Factory factory(name, HISTOGRAM, minimum, maximum, bucket_count, flags);
  return factory.Build();
}

HistogramBase* Histogram::GetOrCreate(const char* name, int32_t minimum,
                                      int32_t maximum, uint32_t bucket_count,
                                      int32_t flags) {
  return GetOrCreate(std::string(name), minimum, maximum, bucket_count,
                     flags);
}

bool Histogram::CheckConstructionArguments(StringPiece name, int32_t* minimum,
                                           int32_t* maximum,
                                           uint32_t* bucket_count) {
  bool bad = false;
  if (*minimum > *maximum) {
    std::swap(*minimum, *maximum);
    bad = true;
  }
  if (*minimum < 1) *minimum = 1;
  if (*maximum < 1) *maximum = 1;
  if (*maximum >= INT32_MAX) *maximum = INT32_MAX - 1;
  if (*bucket_count > kMaxBucketCount) {
    RecordSparseSample("Histogram.TooManyBuckets.1000", HashAsSample(name));
    if (!HasExemptPrefix(name)) {
      *bucket_count = kFallbackBucketCount;
      bad = true;
    }
  }
  if (*maximum == *minimum) {
    *maximum = *maximum + 1;
    bad = true;
  }
  if (*bucket_count < 3) {
    *bucket_count = 3;
    bad = true;
  }
  // The widest useful layout: one bucket per value, plus the underflow and
  // overflow buckets. Computed in unsigned arithmetic, as the count is.
  const uint32_t widest = static_cast<uint32_t>(*maximum) -
                          static_cast<uint32_t>(*minimum) + 2;
  if (*bucket_count > widest) {
    *bucket_count = widest;
    bad = true;
  }
  if (bad) {
    RecordSparseSample("Histogram.BadConstructionArguments",
                       HashAsSample(name));
  }
  return !bad;
}

void Histogram::InitializeExponentialRanges(int32_t minimum, int32_t maximum,
                                            BucketRanges* ranges) {
  const size_t bucket_count = ranges->bucket_count();
  const double log_max = std::log(static_cast<double>(maximum));
  ranges->set_range(1, minimum);
  int32_t current = minimum;
  for (size_t i = 2; i < bucket_count; ++i) {
    double log_current = std::log(static_cast<double>(current));
    // In memory, so that a crash dump of the bucket arithmetic shows it.
    debug::KeepValueAlive(&log_current);
    const double log_next =
        log_current +
        (log_max - log_current) / static_cast<double>(bucket_count - i);
    const int32_t next = static_cast<int32_t>(std::lround(std::exp(log_next)));
    current = next > current ? next : current + 1;
    ranges->set_range(i, current);
  }
  ranges->set_range(bucket_count, HistogramBase::kSampleType_MAX);
  ranges->UpdateChecksum();
}

Histogram::Histogram(const char* name, const BucketRanges* ranges)
    : Histogram(name, ranges,
                std::make_unique<SampleVector>(MetricNameHash64(name), ranges),
                std::make_unique<SampleVector>(MetricNameHash64(name),
                                               ranges)) {}

Histogram::Histogram(const char* name, const BucketRanges* ranges,
                     std::unique_ptr<SampleVectorBase> unlogged_samples,
                     std::unique_ptr<SampleVectorBase> logged_samples)
    : HistogramBase(name),
      bucket_ranges_(ranges),
      unlogged_samples_(std::move(unlogged_samples)),
      logged_samples_(std::move(logged_samples)) {}

Histogram::~Histogram() = default;

uint64_t Histogram::NameHash() const { return unlogged_samples_->id(); }

HistogramType Histogram::GetHistogramType() const { return HISTOGRAM; }

int32_t Histogram::range(size_t i) const { return bucket_ranges_->range(i); }

size_t Histogram::bucket_count() const {
  return bucket_ranges_->bucket_count();
}

std::string Histogram::BucketLabel(size_t i) const {
  return FormatString("%d", range(i));
}

int32_t Histogram::declared_min() const {
  return bucket_count() < 2 ? -1 : range(1);
}

int32_t Histogram::declared_max() const {
  return bucket_count() < 2 ? -1 : range(bucket_count() - 1);
}

bool Histogram::MatchesArguments(int32_t minimum, int32_t maximum,
                                 uint32_t bucket_count) const {
  return bucket_count == this->bucket_count() && minimum == declared_min() &&
         maximum == declared_max();
}

void Histogram::AddCount(int32_t value, int32_t count) {
  if (value >= kSampleType_MAX) value = kSampleType_MAX - 1;
  if (count < 1) return;
  if (value < 0) value = 0;
  unlogged_samples_->AddCountAt(value, count);
  if (StatisticsRecorder::callbacks_active()) RunSampleCallbacks(value);
}

void Histogram::AddSamples(const HistogramSamples& samples) {
  unlogged_samples_->AddAll(samples);
}

bool Histogram::AddSamplesFromPickle(PickleReader* reader) {
  return unlogged_samples_->AddAllFromPickle(reader);
}

int32_t Histogram::CheckForCorruption(const HistogramSamples& samples) const {
  int32_t problems = 0;
  if (!bucket_ranges_->ChecksumMatches()) problems |= 0x1;
  int32_t previous = -1;
  for (size_t i = 0; i < bucket_count(); ++i) {
    if (range(i) <= previous) {
      problems |= 0x2;
      break;
    }
    previous = range(i);
  }
  const int64_t drift =
      int64_t{samples.redundant_count()} - samples.TotalCount();
  if (drift > 5) problems |= 0x4;
  if (drift < -5) problems |= 0x8;
  return problems;
}

std::unique_ptr<HistogramSamples> Histogram::CopySamples() const {
  auto copy = std::make_unique<SampleVector>(unlogged_samples_->id(),
                                             bucket_ranges_);
  copy->AddAll(*unlogged_samples_);
  copy->AddAll(*logged_samples_);
  return copy;
}

std::unique_ptr<HistogramSamples> Histogram::TakeDelta() {
  std::unique_ptr<HistogramSamples> delta = CopyFinalDelta();
  unlogged_samples_->SubtractAll(*delta);
  logged_samples_->AddAll(*delta);
  return delta;
}

std::unique_ptr<HistogramSamples> Histogram::CopyFinalDelta() {
  auto copy = std::make_unique<SampleVector>(unlogged_samples_->id(),
                                             bucket_ranges_);
  copy->AddAll(*unlogged_samples_);
  return copy;
}

void Histogram::CheckSampleStorage() const {
  CHECK(unlogged_samples_);
  CHECK(unlogged_samples_->bucket_ranges());
  CHECK(logged_samples_);
  CHECK(logged_samples_->bucket_ranges());
  CHECK(0U != logged_samples_->id());
}

void Histogram::WriteInfoToPickle(Pickle* pickle) const {
  pickle->WriteString(histogram_name());
  pickle->WriteInt(flags());
  pickle->WriteInt(declared_min());
  pickle->WriteInt(declared_max());
  pickle->WriteInt(static_cast<int32_t>(bucket_count()));
  const uint32_t checksum = bucket_ranges_->checksum();
  pickle->WriteBytes(&checksum, sizeof(checksum));
}

void Histogram::DescribeParameters(Value* params) const {
  params->SetStringKey("type", HistogramTypeName(GetHistogramType()));
  params->SetIntKey("min", declared_min());
  params->SetIntKey("max", declared_max());
  params->SetIntKey("bucket_count", static_cast<int>(bucket_count()));
}

// --- Histogram::Factory ----------------------------------------------------

Histogram::Factory::Factory(const std::string& name, HistogramType type,
                            int32_t minimum, int32_t maximum,
                            uint32_t bucket_count, int32_t flags)
    : name_(name),
      histogram_type_(type),
      minimum_(minimum),
      maximum_(maximum),
      bucket_count_(bucket_count),
      flags_(flags) {}

Histogram::Factory::~Factory() = default;

BucketRanges* Histogram::Factory::CreateRanges() {
  auto* ranges = new BucketRanges(bucket_count_ + 1);
  Histogram::InitializeExponentialRanges(minimum_, maximum_, ranges);
  return ranges;
}

std::unique_ptr<HistogramBase> Histogram::Factory::HeapAlloc(
    const BucketRanges* ranges) {
  return std::make_unique<Histogram>(InternHistogramName(name_), ranges);
}

void Histogram::Factory::FillHistogram(HistogramBase* histogram) {}

HistogramBase* Histogram::Factory::Build() {
  HistogramBase* histogram = StatisticsRecorder::Find(name_);
  if (histogram == nullptr) {
    if (!StatisticsRecorder::ShouldRecord(MetricNameHash32(name_))) {
      return DummyHistogram::GetInstance();
    }
    const BucketRanges* registered_ranges =
        StatisticsRecorder::RegisterRangesOrDiscardDuplicate(CreateRanges());
    if (bucket_count_ == 0) {
      bucket_count_ = static_cast<uint32_t>(registered_ranges->bucket_count());
      minimum_ = registered_ranges->range(1);
      maximum_ = registered_ranges->range(registered_ranges->size() - 2);
    }

    std::unique_ptr<HistogramBase> fresh;
    PersistentMemoryAllocator::Reference record = 0;
    if (PersistentHistogramStore* store = PersistentHistogramStore::GetGlobal()) {
      fresh = store->AllocateHistogram(histogram_type_, name_, minimum_,
                                       maximum_, registered_ranges, flags_,
                                       &record);
    }
    if (!fresh) {
      flags_ &= ~HistogramBase::kIsPersistent;
      fresh = HeapAlloc(registered_ranges);
      fresh->SetFlags(flags_);
    }
    FillHistogram(fresh.get());
    HistogramBase* candidate = fresh.release();
    histogram = StatisticsRecorder::RegisterOrDiscardDuplicate(candidate);
    if (record != 0) {
      PersistentHistogramStore::GetGlobal()->FinalizeHistogram(
          record, histogram == candidate);
    }
  }

  if (histogram->GetHistogramType() == histogram_type_ &&
      (bucket_count_ == 0 ||
       histogram->MatchesArguments(minimum_, maximum_, bucket_count_))) {
    return histogram;
  }
  RecordSparseSample("Histogram.MismatchedConstructionArguments",
                     HashAsSample(name_));
  return DummyHistogram::GetInstance();
}

// --- LinearHistogram -------------------------------------------------------

class LinearHistogram::LinearFactory : public Histogram::Factory {
 public:
  LinearFactory(const std::string& name, int32_t minimum, int32_t maximum,
                uint32_t bucket_count, int32_t flags,
                const DescriptionEntry* descriptions)
      : Factory(name, LINEAR_HISTOGRAM, minimum, maximum, bucket_count, flags),
        descriptions_(descriptions) {}

 protected:
  BucketRanges* CreateRanges() override {
    auto* ranges = new BucketRanges(bucket_count_ + 1);
    LinearHistogram::InitializeLinearRanges(minimum_, maximum_, ranges);
    return ranges;
  }

  std::unique_ptr<HistogramBase> HeapAlloc(
      const BucketRanges* ranges) override {
    return std::make_unique<LinearHistogram>(InternHistogramName(name_),
                                             ranges);
  }

  void FillHistogram(HistogramBase* histogram) override {
    if (descriptions_ == nullptr) return;
    const HistogramType type = histogram->GetHistogramType();
    if (type != LINEAR_HISTOGRAM && type != BOOLEAN_HISTOGRAM) return;
    auto* linear = static_cast<LinearHistogram*>(histogram);
    for (const DescriptionEntry* entry = descriptions_;
         entry->description != nullptr; ++entry) {
      linear->SetBucketDescription(entry->value, entry->description);
    }
  }

 private:
  const DescriptionEntry* const descriptions_;
};

HistogramBase* LinearHistogram::GetOrCreate(
    const std::string& name, int32_t minimum, int32_t maximum,
    uint32_t bucket_count, int32_t flags,
    const DescriptionEntry* descriptions) {
  // A two-valued linear histogram asked for the old way.
  if (maximum == 1 && bucket_count == 2) {
    maximum = 2;
    bucket_count = 3;
  }
  CheckConstructionArguments(name, &minimum, &maximum, &bucket_count);
  LinearFactory factory(name, minimum, maximum, bucket_count, flags,
                        descriptions);
  return factory.Build();
}

HistogramBase* LinearHistogram::GetOrCreate(const char* name, int32_t minimum,
                                            int32_t maximum,
                                            uint32_t bucket_count,
                                            int32_t flags) {
  return GetOrCreate(std::string(name), minimum, maximum, bucket_count, flags,
                     nullptr);
}

void LinearHistogram::InitializeLinearRanges(int32_t minimum, int32_t maximum,
                                             BucketRanges* ranges) {
  const size_t bucket_count = ranges->bucket_count();
  const double spread = static_cast<double>(bucket_count - 2);
  for (size_t i = 1; i < bucket_count; ++i) {
    const double value =
        (static_cast<double>(minimum) * static_cast<double>(bucket_count - 1 - i) +
         static_cast<double>(maximum) * static_cast<double>(i - 1)) /
        spread;
    ranges->set_range(i, static_cast<int32_t>(value + 0.5));
  }
  ranges->set_range(bucket_count, HistogramBase::kSampleType_MAX);
  ranges->UpdateChecksum();
}

LinearHistogram::LinearHistogram(const char* name, const BucketRanges* ranges)
    : Histogram(name, ranges) {}

LinearHistogram::LinearHistogram(
    const char* name, const BucketRanges* ranges,
    std::unique_ptr<SampleVectorBase> unlogged_samples,
    std::unique_ptr<SampleVectorBase> logged_samples)
    : Histogram(name, ranges, std::move(unlogged_samples),
                std::move(logged_samples)) {}

LinearHistogram::~LinearHistogram() = default;

HistogramType LinearHistogram::GetHistogramType() const {
  return LINEAR_HISTOGRAM;
}

std::string LinearHistogram::BucketLabel(size_t i) const {
  auto it = bucket_descriptions_.find(range(i));
  if (it != bucket_descriptions_.end()) return it->second;
  return Histogram::BucketLabel(i);
}

void LinearHistogram::SetBucketDescription(int32_t value,
                                           const std::string& description) {
  bucket_descriptions_[value] = description;
}

// --- BooleanHistogram and CustomHistogram ------------------------------------

BooleanHistogram::~BooleanHistogram() = default;

HistogramType BooleanHistogram::GetHistogramType() const {
  return BOOLEAN_HISTOGRAM;
}

CustomHistogram::~CustomHistogram() = default;

HistogramType CustomHistogram::GetHistogramType() const {
  return CUSTOM_HISTOGRAM;
}

void CustomHistogram::WriteInfoToPickle(Pickle* pickle) const {
  Histogram::WriteInfoToPickle(pickle);
  for (size_t i = 1; i < bucket_count(); ++i) pickle->WriteInt(range(i));
}

}  // namespace kelmbase

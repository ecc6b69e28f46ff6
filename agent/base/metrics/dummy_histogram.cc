#include "agent/base/metrics/dummy_histogram.h"

#include "agent/base/metrics/metrics_hashes.h"
#include "agent/base/values.h"

namespace kelmbase {

HistogramBase* DummyHistogram::GetInstance() {
  // Never destroyed: callers keep the pointer for the life of the process.
  static DummyHistogram* const instance = new DummyHistogram();
  return instance;
}

DummyHistogram::DummyHistogram() : HistogramBase("dummy_histogram") {}

DummyHistogram::~DummyHistogram() = default;

uint64_t DummyHistogram::NameHash() const {
  return MetricNameHash64("dummy_histogram");
}

HistogramType DummyHistogram::GetHistogramType() const {
  return DUMMY_HISTOGRAM;
}

bool DummyHistogram::MatchesArguments(int32_t minimum, int32_t maximum,
                                      uint32_t bucket_count) const {
  return true;
}

void DummyHistogram::AddCount(int32_t value, int32_t count) {}

void DummyHistogram::AddSamples(const HistogramSamples& samples) {}

bool DummyHistogram::AddSamplesFromPickle(PickleReader* reader) {
  return true;
}

std::unique_ptr<HistogramSamples> DummyHistogram::CopySamples() const {
  return std::make_unique<DummyHistogramSamples>();
}

std::unique_ptr<HistogramSamples> DummyHistogram::TakeDelta() {
  return std::make_unique<DummyHistogramSamples>();
}

std::unique_ptr<HistogramSamples> DummyHistogram::CopyFinalDelta() {
  return std::make_unique<DummyHistogramSamples>();
}

void DummyHistogram::WriteGraphText(std::string* output) const {}

Value DummyHistogram::BuildGraphDict() const {
  return Value(Value::Type::DICTIONARY);
}

void DummyHistogram::WriteInfoToPickle(Pickle* pickle) const {}

void DummyHistogram::DescribeParameters(Value* params) const {}

DummyHistogramSamples::DummyHistogramSamples()
    : HistogramSamples(0, &owned_meta) {}

DummyHistogramSamples::~DummyHistogramSamples() = default;

void DummyHistogramSamples::AddCountAt(int32_t value, int32_t count) {}

int32_t DummyHistogramSamples::CountOf(int32_t value) const { return 0; }

int32_t DummyHistogramSamples::TotalCount() const { return 0; }

std::unique_ptr<SampleCountIterator> DummyHistogramSamples::MakeIterator()
    const {
  return std::make_unique<DummySampleCountIterator>();
}

bool DummyHistogramSamples::ApplyIterator(SampleCountIterator* iter,
                                          Operator op) {
  return true;
}

DummySampleCountIterator::~DummySampleCountIterator() = default;

bool DummySampleCountIterator::IsDone() const { return true; }

void DummySampleCountIterator::Advance() {}

void DummySampleCountIterator::Current(int32_t* min, int64_t* max,
                                       int32_t* count) const {}

}  // namespace kelmbase

#include "agent/base/metrics/histogram_base.h"

#include <set>

#include "agent/base/memory/lazy_singleton.h"
#include "agent/base/metrics/histogram_samples.h"
#include "agent/base/metrics/metrics_hashes.h"
#include "agent/base/metrics/statistics_recorder.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/values.h"

namespace kelmbase {

namespace {

struct InternedNames {
  Lock lock;
  std::set<std::string> names;
};

LazySingleton<InternedNames> g_interned_names;

}  // namespace

std::string HistogramTypeName(HistogramType type) {
  switch (type) {
    case HISTOGRAM:
      return "HISTOGRAM";
    case LINEAR_HISTOGRAM:
      return "LINEAR_HISTOGRAM";
    case BOOLEAN_HISTOGRAM:
      return "BOOLEAN_HISTOGRAM";
    case CUSTOM_HISTOGRAM:
      return "CUSTOM_HISTOGRAM";
    case SPARSE_HISTOGRAM:
      return "SPARSE_HISTOGRAM";
    case DUMMY_HISTOGRAM:
      return "DUMMY_HISTOGRAM";
  }
  return "UNKNOWN";
}

const char* InternHistogramName(const std::string& name) {
  InternedNames& interned = g_interned_names.Get();
  ScopedLock hold(interned.lock);
  // Set elements never move, so the text stays where it is.
  return interned.names.insert(name).first->c_str();
}

HistogramBase::HistogramBase(const char* name) : histogram_name_(name) {}

HistogramBase::~HistogramBase() = default;

void HistogramBase::SetFlags(int32_t flags) {
  flags_.fetch_or(flags, std::memory_order_relaxed);
}

void HistogramBase::ClearFlags(int32_t flags) {
  flags_.fetch_and(~flags, std::memory_order_relaxed);
}

void HistogramBase::NameHook(const void* argument) {}

int32_t HistogramBase::CheckForCorruption(
    const HistogramSamples& samples) const {
  return 0;
}

void HistogramBase::CheckSampleStorage() const {}

Value HistogramBase::BuildGraphDict() const {
  std::unique_ptr<HistogramSamples> snapshot = CopySamples();
  Value dict(Value::Type::DICTIONARY);
  dict.SetStringKey("name", histogram_name());
  dict.SetStringKey("header",
                    snapshot->WriteTextHeader(histogram_name(), flags()));
  dict.SetStringKey("body", snapshot->WriteTextBody());
  return dict;
}

void HistogramBase::WriteGraphText(std::string* output) const {
  const Value dict = BuildGraphDict();
  const std::string* header = dict.FindStringKey("header");
  const std::string* body = dict.FindStringKey("body");
  if (header == nullptr || body == nullptr) return;
  *output += *header;
  *output += "\n";
  *output += *body;
}

void HistogramBase::RunSampleCallbacks(int32_t sample) const {
  if (StatisticsRecorder::GlobalSampleHook hook =
          StatisticsRecorder::global_sample_hook()) {
    hook(histogram_name(), NameHash(), sample);
  }
  if ((flags() & kCallbackExists) == 0) return;
  StatisticsRecorder::SampleCallback callback =
      StatisticsRecorder::FindCallback(histogram_name());
  if (!callback.is_null()) callback.Run(histogram_name(), NameHash(), sample);
}

int32_t HistogramBase::HashAsSample(StringPiece name) {
  return static_cast<int32_t>(static_cast<uint32_t>(MetricNameHash64(name)));
}

}  // namespace kelmbase

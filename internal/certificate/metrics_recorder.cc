#include "internal/certificate/metrics_recorder.h"

#include <utility>

#include "internal/certificate/quelfin_logging_adapter.h"
#include "logging/log_flags.h"

namespace vantorel {

namespace {

constexpr char kEventPrefix[] = "kelm event: ";

// Nothing installs a recorder in this program; the pointer stays null.
MetricsRecorder* g_recorder = nullptr;

}  // namespace

MetricsRecorder* MetricsRecorder::GetInstance() { return g_recorder; }

bool MetricsVerbosityPasses(int verbosity) {
  return -verbosity >= kelm_log::MinLogLevel();
}

void RecordEvent(const std::string& name, std::unique_ptr<MetricsEvent> event,
                 int verbosity, const std::string& prefix) {
  MetricsRecorder* recorder = MetricsRecorder::GetInstance();
  if (recorder != nullptr && event != nullptr) {
    // An event the recorder hands back dies here.
    recorder->RecordEvent(std::move(event));
  }
  if (MetricsVerbosityPasses(verbosity)) {
    logging::LogMessage(__FILE__, __LINE__, -verbosity).stream()
        << prefix << name;
  }
}

void RecordAction(const std::string& name, std::unique_ptr<MetricsEvent> event,
                  int verbosity) {
  RecordEvent(name, std::move(event), verbosity, kEventPrefix);
}

void RecordTimeHistogram(const std::string& name, int sample, int min, int max,
                         int buckets, int verbosity) {
  MetricsRecorder* recorder = MetricsRecorder::GetInstance();
  if (recorder != nullptr) {
    recorder->RecordTimeHistogram(name, sample, min, max, buckets);
  }
  if (MetricsVerbosityPasses(verbosity)) {
    logging::LogMessage(__FILE__, __LINE__, -verbosity).stream()
        << "Time histogram: " << name << ", sample=" << sample
        << ", max=" << max << ", min=" << min << ", num_buckets=" << buckets;
  }
}

}  // namespace vantorel

#ifndef INTERNAL_CERTIFICATE_METRICS_RECORDER_H_
#define INTERNAL_CERTIFICATE_METRICS_RECORDER_H_

// Time measurements and user actions of the device code. They go to the
// process-wide recorder when one is installed, and are mirrored into the log
// at a verbosity of their own: verbosity v is written, as a record of
// severity -v, when -v is at least the log's minimum level. So verbosity 0
// reaches INFO and verbosity 1 is dropped at the default level.
//
// Threads: any thread. The recorder pointer never changes after start-up.

#include <memory>
#include <string>

namespace vantorel {

// An event handed to a recorder; owned through a unique pointer.
class MetricsEvent {
 public:
  virtual ~MetricsEvent() = default;
};

// Where reports go when a recorder is installed. This program installs none.
class MetricsRecorder {
 public:
  virtual ~MetricsRecorder() = default;

  // The installed recorder, or null (always, in this program).
  static MetricsRecorder* GetInstance();

  virtual std::unique_ptr<MetricsEvent> CreateUserActionEvent(
      const std::string& name) = 0;
  // Takes the event; one handed back is destroyed by the caller.
  virtual std::unique_ptr<MetricsEvent> RecordEvent(
      std::unique_ptr<MetricsEvent> event) = 0;
  virtual void RecordTimeHistogram(const std::string& name, int sample,
                                   int min, int max, int buckets) = 0;
};

// Hands `event` (may be null) to the recorder, if any, then writes `prefix`
// followed by `name` when `verbosity` passes.
void RecordEvent(const std::string& name, std::unique_ptr<MetricsEvent> event,
                 int verbosity, const std::string& prefix);

// RecordEvent with the prefix "kelm event: ".
void RecordAction(const std::string& name, std::unique_ptr<MetricsEvent> event,
                  int verbosity);

// Hands the sample to the recorder, if any, then writes it when `verbosity`
// passes.
void RecordTimeHistogram(const std::string& name, int sample, int min, int max,
                         int buckets, int verbosity);

// Whether a report of `verbosity` reaches the log.
bool MetricsVerbosityPasses(int verbosity);

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_METRICS_RECORDER_H_

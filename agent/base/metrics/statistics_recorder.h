#ifndef AGENT_BASE_METRICS_STATISTICS_RECORDER_H_
#define AGENT_BASE_METRICS_STATISTICS_RECORDER_H_

// The process-wide registry of histograms by name. It maps each name to the
// one histogram that serves it, shares equal bucket-range lists between
// histograms, holds the per-name sample callbacks and the optional record
// checker, and writes all histograms as text.
//
// Created on first use and never destroyed; registered histograms and range
// lists are never removed or freed, so their pointers stay valid for the
// life of the process. Every function is static, may be called from any
// thread and takes the one recorder lock for its work; no histogram or
// ranges lock is taken while it is held.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "agent/base/functional/callback.h"
#include "agent/base/memory/cache_line.h"
#include "agent/base/strings/string_piece.h"

namespace kelmbase {

class BucketRanges;
class HistogramBase;

// Decides by name hash which histograms may be made at all.
class HistogramRecordChecker {
 public:
  virtual ~HistogramRecordChecker() = default;
  virtual bool ShouldRecord(uint32_t histogram_hash) const = 0;
};

class StatisticsRecorder {
 public:
  using SampleCallback =
      RepeatableCallback<void(const char* name, uint64_t name_hash,
                              int32_t sample)>;
  using GlobalSampleHook = void (*)(const char* name, uint64_t name_hash,
                                    int32_t sample);

  // The registry's maps; internal to the recorder.
  class Registry;

  StatisticsRecorder() = delete;

  // The registered histogram of this name: `histogram` when it is the first
  // (then its callback flag is set from the callback map), else the one
  // registered first, and `histogram` is deleted.
  static HistogramBase* RegisterOrDiscardDuplicate(HistogramBase* histogram);

  // The registered range list equal to `ranges` (same entries in order),
  // deleting `ranges` when it is not the one registered.
  static const BucketRanges* RegisterRangesOrDiscardDuplicate(
      BucketRanges* ranges);

  // The histogram registered under `name`, or null. Imports the histograms
  // of an installed persistent store first.
  static HistogramBase* Find(StringPiece name);

  // A copy of the callback registered for `name`, or a null callback.
  static SampleCallback FindCallback(const std::string& name);

  // The record checker's answer; true while none is installed.
  static bool ShouldRecord(uint32_t histogram_hash);

  // Every registered histogram, in no particular order.
  static std::vector<HistogramBase*> ListHistograms();

  // Appends "Collections of all histograms\n" (or "Collections of
  // histograms for <query>\n"), then the text graph and an empty line of
  // every histogram whose name contains `query`, sorted by name.
  static void WriteText(const std::string& query, std::string* output);

  // Registers the at-exit text dump when verbose logging at level 1 is on;
  // once.
  static void ScheduleExitDump();
  // Writes all histograms into one verbose log record.
  static void DumpHistogramsAtExit(void* unused);

  // Whether histograms run sample callbacks at all (false by default), and
  // the hook they call for every sample (none by default).
  static bool callbacks_active() {
    return sample_hooks_.callbacks_active.load(std::memory_order_relaxed);
  }
  static GlobalSampleHook global_sample_hook() {
    return sample_hooks_.global_sample_hook.load(std::memory_order_acquire);
  }

  // Test hooks. The sample-callback map, the record checker, the callback
  // switch and the global hook are left unset by this program.
  static void SetCallbackForTesting(const std::string& name,
                                    SampleCallback callback);
  static void SetRecordCheckerForTesting(
      std::unique_ptr<HistogramRecordChecker> checker);
  static void SetCallbacksActiveForTesting(bool active);
  static void SetGlobalSampleHookForTesting(GlobalSampleHook hook);
  // Empties the registry so that a test starts from no histograms.
  // Histograms and ranges registered so far stay alive (callers may hold
  // them) but are no longer found; the cached negative-sample histograms
  // are forgotten as well.
  static void ForgetAllForTesting();

 private:
  // The registry, made on first use; the recorder lock must be held.
  static Registry* EnsureInstanceLocked();
  // Imports the histograms of the installed persistent store, if any.
  static void ImportPersistentHistograms();

  // Read by every sample on every thread, written only by tests: a cache
  // line of their own keeps the recorder lock, which each GetOrCreate takes,
  // and other globals from sharing it.
  struct alignas(kCacheLineSize) SampleHooks {
    std::atomic<bool> callbacks_active{false};
    std::atomic<GlobalSampleHook> global_sample_hook{nullptr};
  };
  static SampleHooks sample_hooks_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_STATISTICS_RECORDER_H_

#include "agent/base/metrics/statistics_recorder.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "agent/base/at_exit.h"
#include "agent/base/memory/lazy_singleton.h"
#include "agent/base/metrics/bucket_ranges.h"
#include "agent/base/metrics/histogram_base.h"
#include "agent/base/metrics/histogram_samples.h"
#include "agent/base/metrics/persistent_histogram_store.h"
#include "agent/base/synchronization/lock.h"
#include "logging/log.h"

namespace kelmbase {

namespace {

// h = h * 131 + byte over the name's unsigned bytes.
struct NameHasher {
  size_t operator()(std::string_view name) const {
    uint64_t hash = 0;
    for (unsigned char byte : name) hash = hash * 131 + byte;
    return static_cast<size_t>(hash);
  }
};

struct RangesHasher {
  size_t operator()(const BucketRanges* ranges) const {
    return ranges->checksum();
  }
};

struct RangesEqual {
  bool operator()(const BucketRanges* a, const BucketRanges* b) const {
    return a->SameAs(*b);
  }
};

LazySingleton<Lock> g_recorder_lock;

}  // namespace

class StatisticsRecorder::Registry {
 public:
  Registry() {
    histograms.max_load_factor(1.0f);
    callbacks.max_load_factor(1.0f);
    ranges.max_load_factor(1.0f);
  }

  // Keys view each histogram's own name.
  std::unordered_map<std::string_view, HistogramBase*, NameHasher> histograms;
  std::unordered_map<std::string, SampleCallback> callbacks;
  std::unordered_set<const BucketRanges*, RangesHasher, RangesEqual> ranges;
  std::unique_ptr<HistogramRecordChecker> record_checker;
  // What ForgetAllForTesting unregistered; still alive for their holders.
  std::vector<HistogramBase*> forgotten_histograms;
  std::vector<const BucketRanges*> forgotten_ranges;
};

namespace {
// Guarded by the recorder lock.
StatisticsRecorder::Registry* g_registry = nullptr;
bool g_exit_dump_scheduled = false;
}  // namespace

StatisticsRecorder::SampleHooks StatisticsRecorder::sample_hooks_;

StatisticsRecorder::Registry* StatisticsRecorder::EnsureInstanceLocked() {
  if (g_registry == nullptr) {
    g_registry = new Registry();
    ScheduleExitDump();
  }
  return g_registry;
}

void StatisticsRecorder::ScheduleExitDump() {
  if (g_exit_dump_scheduled || !VLOG_IS_ON(1)) return;
  g_exit_dump_scheduled = true;
  AtExitStack::AddCallback(&StatisticsRecorder::DumpHistogramsAtExit,
                           nullptr);
}

void StatisticsRecorder::DumpHistogramsAtExit(void* unused) {
  std::string output;
  WriteText(std::string(), &output);
  VLOG(1) << output;
}

HistogramBase* StatisticsRecorder::RegisterOrDiscardDuplicate(
    HistogramBase* histogram) {
  HistogramBase* registered = nullptr;
  {
    ScopedLock hold(g_recorder_lock.Get());
    Registry* registry = EnsureInstanceLocked();
    const char* name = histogram->histogram_name();
    HistogramBase*& entry = registry->histograms[std::string_view(name)];
    if (entry == nullptr) {
      entry = histogram;
      auto callback = registry->callbacks.find(name);
      if (callback != registry->callbacks.end()) {
        if (!callback->second.is_null()) {
          histogram->SetFlags(HistogramBase::kCallbackExists);
        } else {
          histogram->ClearFlags(HistogramBase::kCallbackExists);
        }
      }
      return histogram;
    }
    registered = entry;
  }
  // The first registration of a name wins; the duplicate goes outside the
  // lock.
  if (registered != histogram) delete histogram;
  return registered;
}

const BucketRanges* StatisticsRecorder::RegisterRangesOrDiscardDuplicate(
    BucketRanges* ranges) {
  const BucketRanges* registered = nullptr;
  {
    ScopedLock hold(g_recorder_lock.Get());
    Registry* registry = EnsureInstanceLocked();
    registered = *registry->ranges.insert(ranges).first;
  }
  if (registered != ranges) delete ranges;
  return registered;
}

void StatisticsRecorder::ImportPersistentHistograms() {
  if (PersistentHistogramStore* store = PersistentHistogramStore::GetGlobal()) {
    store->ImportHistogramsToRecorder();
  }
}

HistogramBase* StatisticsRecorder::Find(StringPiece name) {
  ImportPersistentHistograms();
  ScopedLock hold(g_recorder_lock.Get());
  Registry* registry = EnsureInstanceLocked();
  auto it = registry->histograms.find(std::string_view(name.data(), name.size()));
  return it == registry->histograms.end() ? nullptr : it->second;
}

StatisticsRecorder::SampleCallback StatisticsRecorder::FindCallback(
    const std::string& name) {
  ScopedLock hold(g_recorder_lock.Get());
  Registry* registry = EnsureInstanceLocked();
  auto it = registry->callbacks.find(name);
  return it == registry->callbacks.end() ? SampleCallback() : it->second;
}

bool StatisticsRecorder::ShouldRecord(uint32_t histogram_hash) {
  ScopedLock hold(g_recorder_lock.Get());
  Registry* registry = EnsureInstanceLocked();
  return registry->record_checker == nullptr ||
         registry->record_checker->ShouldRecord(histogram_hash);
}

std::vector<HistogramBase*> StatisticsRecorder::ListHistograms() {
  ImportPersistentHistograms();
  ScopedLock hold(g_recorder_lock.Get());
  Registry* registry = EnsureInstanceLocked();
  std::vector<HistogramBase*> histograms;
  histograms.reserve(registry->histograms.size());
  for (const auto& [name, histogram] : registry->histograms) {
    histograms.push_back(histogram);
  }
  return histograms;
}

void StatisticsRecorder::WriteText(const std::string& query,
                                   std::string* output) {
  if (query.empty()) {
    output->append("Collections of all histograms\n");
  } else {
    output->append("Collections of histograms for ");
    output->append(query);
    output->append("\n");
  }
  std::vector<HistogramBase*> histograms = ListHistograms();
  histograms.erase(
      std::remove_if(histograms.begin(), histograms.end(),
                     [&query](const HistogramBase* histogram) {
                       return std::string_view(histogram->histogram_name())
                                  .find(query) == std::string_view::npos;
                     }),
      histograms.end());
  std::sort(histograms.begin(), histograms.end(),
            [](const HistogramBase* a, const HistogramBase* b) {
              return strcmp(a->histogram_name(), b->histogram_name()) < 0;
            });
  for (const HistogramBase* histogram : histograms) {
    histogram->WriteGraphText(output);
    output->append("\n");
  }
}

void StatisticsRecorder::SetCallbackForTesting(const std::string& name,
                                               SampleCallback callback) {
  ScopedLock hold(g_recorder_lock.Get());
  Registry* registry = EnsureInstanceLocked();
  const bool exists = !callback.is_null();
  registry->callbacks[name] = std::move(callback);
  auto it = registry->histograms.find(name);
  if (it == registry->histograms.end()) return;
  if (exists) {
    it->second->SetFlags(HistogramBase::kCallbackExists);
  } else {
    it->second->ClearFlags(HistogramBase::kCallbackExists);
  }
}

void StatisticsRecorder::SetRecordCheckerForTesting(
    std::unique_ptr<HistogramRecordChecker> checker) {
  std::unique_ptr<HistogramRecordChecker> old;
  ScopedLock hold(g_recorder_lock.Get());
  Registry* registry = EnsureInstanceLocked();
  old = std::move(registry->record_checker);
  registry->record_checker = std::move(checker);
}

void StatisticsRecorder::SetCallbacksActiveForTesting(bool active) {
  sample_hooks_.callbacks_active.store(active, std::memory_order_relaxed);
}

void StatisticsRecorder::SetGlobalSampleHookForTesting(GlobalSampleHook hook) {
  sample_hooks_.global_sample_hook.store(hook, std::memory_order_release);
}

void StatisticsRecorder::ForgetAllForTesting() {
  {
    ScopedLock hold(g_recorder_lock.Get());
    Registry* registry = EnsureInstanceLocked();
    for (const auto& [name, histogram] : registry->histograms) {
      registry->forgotten_histograms.push_back(histogram);
    }
    registry->histograms.clear();
    for (const BucketRanges* ranges : registry->ranges) {
      registry->forgotten_ranges.push_back(ranges);
    }
    registry->ranges.clear();
    registry->callbacks.clear();
    registry->record_checker.reset();
  }
  HistogramSamples::ForgetNegativeSampleHistogramsForTesting();
}

}  // namespace kelmbase

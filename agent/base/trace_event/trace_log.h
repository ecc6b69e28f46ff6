#ifndef AGENT_BASE_TRACE_EVENT_TRACE_LOG_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_LOG_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "agent/base/location.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/memory/weak_ptr.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/task/sequenced_task_runner.h"
#include "agent/base/threading/platform_thread.h"
#include "agent/base/time/time.h"
#include "agent/base/trace_event/memory_dump_provider.h"
#include "agent/base/trace_event/trace_arguments.h"
#include "agent/base/trace_event/trace_category.h"
#include "agent/base/trace_event/trace_event.h"
#include "agent/base/trace_event/trace_event_filter.h"
#include "agent/base/trace_event/trace_event_handle.h"
#include "agent/base/trace_event/trace_recording_config.h"

namespace kelmbase {
namespace trace_event {

namespace internal {
struct TraceLogThreadState;
}  // namespace internal
class TraceBuffer;
class TraceBufferChunk;

// Hooks that replace the log's storage when set (nothing in this program
// sets them).
using AddTraceEventOverrideHook = void (*)(TraceEvent* event,
                                           bool thread_will_flush,
                                           TraceEventHandle* handle);
using UpdateDurationOverrideHook = void (*)(const TraceCategory* category,
                                            const char* name,
                                            TraceEventHandle handle,
                                            int32_t thread_id,
                                            bool explicit_timestamps,
                                            MonotonicTime now,
                                            ThreadCpuTime thread_now,
                                            int64_t thread_instruction_now);
using FilterFactoryHook =
    std::unique_ptr<TraceEventFilter> (*)(const EventFilterConfig& config);

// The process-wide recorder of trace events.
//
// Instrumented code tests a category's state byte and, when it is not 0,
// calls EmitEvent and friends (below). The log stamps the event, runs the
// event filters the category asks for, and stores it: in the calling
// thread's own 64-event chunk when the thread runs tasks (no lock except
// once per 64 events), otherwise in a shared chunk under the main lock.
// Complete events are closed later through their handle.
//
// Nothing in this program turns recording on, so the log is never even
// made there; SetEnabled exists for tests and embedders.
//
// Threads: every public operation may be called from any thread. The main
// lock guards the buffer, the shared chunk, the configuration, the modes
// and the category states; the thread-info lock guards the thread names,
// colours and echo stacks (taken inside the main lock, never around it);
// observers are told with only the observer lock held. An event emitted
// by a thread that is already inside the log (for example from an
// observer or a filter) is dropped. Made on first use, never destroyed.
//
// Visibility: a category state change made under the main lock is seen by
// an emitting thread's acquire load before it reads the filters. An event
// in a thread's own chunk becomes visible to other threads (Flush) once the
// chunk goes back to the buffer under the main lock: when it is full, or
// when the thread's task machinery (its CurrentThread) is destroyed. Only a
// thread with a CurrentThread and a runner handle has a chunk of its own;
// the others share one chunk under the main lock.
class TraceLog : public MemoryDumpProvider {
 public:
  enum Mode : uint8_t {
    kRecordingMode = 0x1,
    kFilteringMode = 0x2,
  };

  // Told when recording stops. Called without the log's main lock, on the
  // thread that stopped it.
  class EnabledStateObserver {
   public:
    virtual ~EnabledStateObserver() = default;
    virtual void OnTraceLogDisabled() = 0;
  };
  // The same, told by a task posted to the sequence that registered it,
  // while the observer still exists.
  class AsyncEnabledStateObserver {
   public:
    virtual ~AsyncEnabledStateObserver() = default;
    virtual void OnTraceLogDisabled() = 0;
  };

  class ThreadLocalEventBuffer;

  // Created on first use, never destroyed. Inline: every emitted event
  // asks for it.
  static TraceLog* GetInstance() {
    static TraceLog* const instance = new TraceLog();
    return instance;
  }

  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  // The entry for `name`, added when new (entry 0 once the registry is
  // full). Event sites in the program use built-in entries instead.
  TraceCategory* GetCategoryState(const char* name);

  // Turns `modes` on with `config`. Switching recording on keeps the
  // buffer when it was made for the same record mode and size, and starts a
  // fresh one otherwise.
  void SetEnabled(const TraceRecordingConfig& config, uint8_t modes);
  // Turns `modes` off. Stopping recording writes the metadata events.
  void SetDisabled(uint8_t modes);
  uint8_t enabled_modes() const {
    return enabled_modes_.load(std::memory_order_relaxed);
  }
  bool IsEnabled() const { return enabled_modes() != 0; }
  TraceRecordingConfig GetCurrentConfig();

  // Emit paths behind the free functions below.
  //
  // An event of the calling thread, unless its flags say otherwise, is
  // stamped with the thread's CPU clock, whose read is a system call. The
  // read happens inline, in the caller's frame, so that no call layer of
  // the log's own wraps it: after a system call the processor's caches and
  // predictors have lost much of their state, and every extra call and
  // return there costs more than it does elsewhere.
  TraceEventHandle EmitEventForThread(char phase,
                                      const TraceCategory* category,
                                      const char* name, const char* scope,
                                      uint64_t id, uint64_t bind_id,
                                      int32_t thread_id,
                                      MonotonicTime timestamp,
                                      TraceArgumentSet* args, uint32_t flags) {
    return EmitEventWithThreadNow(phase, category, name, scope, id, bind_id,
                                  thread_id, timestamp, args, flags);
  }
  // The same stamping; EmitEvent's path, with the calling thread's id, now
  // and bind id 0. Always inlined, so that the clock read stays in the
  // frame of whoever calls either function.
  __attribute__((always_inline)) TraceEventHandle EmitEventWithThreadNow(
      char phase, const TraceCategory* category, const char* name,
      const char* scope, uint64_t id, uint64_t bind_id, int32_t thread_id,
      MonotonicTime timestamp, TraceArgumentSet* args, uint32_t flags) {
    const int32_t current_thread_id =
        static_cast<int32_t>(PlatformThread::CurrentId());
    ThreadCpuTime thread_now;
    if ((flags & (kFlagExplicitTimestamp | kFlagNoThreadTime)) == 0 &&
        thread_id == current_thread_id) {
      thread_now = ThreadCpuTime::Now();
    }
    return EmitStampedEvent(phase, category, name, scope, id, bind_id,
                            thread_id, timestamp, thread_now, args, flags,
                            current_thread_id);
  }
  TraceEventHandle EmitEventWithTimes(
      char phase, const TraceCategory* category, const char* name,
      const char* scope, uint64_t id, uint64_t bind_id, int32_t thread_id,
      MonotonicTime timestamp, ThreadCpuTime thread_timestamp,
      TraceArgumentSet* args, uint32_t flags);
  void CloseEventDuration(const TraceCategory* category, const char* name,
                          TraceEventHandle handle);
  void UpdateDurationExplicit(const TraceCategory* category, const char* name,
                              TraceEventHandle handle, int32_t thread_id,
                              bool explicit_timestamps, MonotonicTime now,
                              ThreadCpuTime thread_now,
                              int64_t thread_instruction_now);

  // False when the event must be dropped (category off, or the thread is
  // already inside the log); on the calling thread, also records the
  // thread's current name in the log's name list for it.
  bool ShouldAddAfterUpdatingState(const TraceCategory* category,
                                   int32_t thread_id);

  // Hands every stored event to `visitor` and starts a fresh buffer (with
  // no overflow time). The
  // calling thread's own chunk and the shared chunk are included; chunks
  // still held by other threads are dropped (they belong to the old
  // buffer's generation).
  void Flush(const std::function<void(const TraceEvent&)>& visitor);

  // For tests: returns the log to the state it was made in, so that a test
  // starts from a known log whatever ran before it. Every mode goes off
  // (writing no metadata and telling no observer); the configuration, the
  // buffer (fresh and empty, with no overflow time), the shared chunk (none),
  // the process and thread metadata, the thread names and colours, the
  // observers, the three override hooks and the process-wide filters return
  // to what the log starts with. Chunks still held by threads belong to the
  // old buffer's generation and are dropped. Only while no other thread
  // uses the log.
  void ResetForTesting();

  // Calls `visitor` on the event that `handle` names, if it still exists,
  // with the main lock held when the event is not in the calling thread's
  // own chunk. Returns whether it exists.
  bool VisitEventByHandle(TraceEventHandle handle,
                          const std::function<void(const TraceEvent&)>& visitor);

  // Metadata written when recording stops.
  void SetProcessSortIndex(int sort_index);
  void SetProcessLabel(int label_id, const std::string& label);
  void SetThreadSortIndex(int32_t thread_id, int sort_index);
  // Keeps this thread from getting its own event buffer.
  void SetCurrentThreadBlocksMessageLoop();

  void AddEnabledStateObserver(EnabledStateObserver* observer);
  void RemoveEnabledStateObserver(EnabledStateObserver* observer);
  // Registers from a sequence with a task runner handle.
  void AddAsyncEnabledStateObserver(
      WeakPtr<AsyncEnabledStateObserver> observer);
  void RemoveAsyncEnabledStateObserver(AsyncEnabledStateObserver* observer);

  void SetAddTraceEventOverrideHook(AddTraceEventOverrideHook hook);
  void SetUpdateDurationOverrideHook(UpdateDurationOverrideHook hook);
  void SetFilterFactoryHook(FilterFactoryHook hook);

  // The process-wide filters; filter i answers for bit i of a category's
  // filter mask. Made on first use, never destroyed.
  static std::vector<std::unique_ptr<TraceEventFilter>>& GetEventFilters();

  // The comma-separated names seen for a thread ("" when none).
  std::string GetThreadNames(int32_t thread_id);
  int32_t process_id() const { return process_id_; }
  uint64_t process_hash() const { return process_hash_; }
  MonotonicTime overflow_timestamp();

  // The buffer a configuration asks for.
  static std::unique_ptr<TraceBuffer> CreateTraceBuffer(
      const TraceRecordingConfig& config);

  // MemoryDumpProvider: writes "tracing/main_trace_log".
  bool WriteMemoryDump(const MemoryDumpArgs& args, ProcessDump* dump) override;

 private:
  friend class ThreadLocalEventBuffer;

  TraceLog();
  ~TraceLog() override;

  static void UpdateCategoryStateCallback(TraceCategory* category,
                                          void* context);
  void UpdateCategoryState(TraceCategory* category);
  void UpdateCategoryRegistry();
  void CreateFiltersForConfig();
  void SetDisabledWhileLocked(uint8_t modes);
  void AddMetadataEventsWhileLocked();
  void AddMetadataEvent(const char* name, int32_t thread_id,
                        TraceArgumentSet* args);
  void CheckIfBufferIsFullWhileLocked();
  TraceEvent* AddEventToSharedChunkWhileLocked(TraceEventHandle* handle,
                                               bool check_buffer_is_full);
  void ReplaceSharedChunkWhileLocked();
  // Puts a new, empty buffer for config_ in place and returns the old one.
  // Chunks still held by threads belong to the old buffer's generation and
  // are dropped; the shared chunk must already be gone.
  std::unique_ptr<TraceBuffer> ReplaceBufferWhileLocked();
  // The times an event is stamped with.
  struct EventStamp {
    MonotonicTime timestamp;
    ThreadCpuTime thread_timestamp;
    int64_t thread_instruction_count;
  };
  // EmitEventForThread past the thread clock read.
  TraceEventHandle EmitStampedEvent(char phase, const TraceCategory* category,
                                    const char* name, const char* scope,
                                    uint64_t id, uint64_t bind_id,
                                    int32_t thread_id,
                                    MonotonicTime timestamp,
                                    ThreadCpuTime thread_timestamp,
                                    TraceArgumentSet* args, uint32_t flags,
                                    int32_t current_thread_id);
  TraceEventHandle AddEvent(char phase, const TraceCategory* category,
                            const char* name, const char* scope, uint64_t id,
                            uint64_t bind_id, int32_t thread_id,
                            MonotonicTime timestamp,
                            ThreadCpuTime thread_timestamp,
                            TraceArgumentSet* args, uint32_t flags,
                            int32_t current_thread_id);
  TraceEventHandle AddEventSlow(uint8_t state,
                                ThreadLocalEventBuffer* local_buffer,
                                const EventStamp& stamp, char phase,
                                const TraceCategory* category,
                                const char* name, const char* scope,
                                uint64_t id, uint64_t bind_id,
                                int32_t thread_id, TraceArgumentSet* args,
                                uint32_t flags);
  ThreadLocalEventBuffer* EnsureThreadLocalEventBuffer(
      internal::TraceLogThreadState* state);
  ThreadLocalEventBuffer* CreateThreadLocalEventBuffer(
      internal::TraceLogThreadState* state);
  bool ShouldAddForThreadState(const TraceCategory* category,
                               int32_t thread_id, int32_t current_thread_id,
                               internal::TraceLogThreadState* state);
  // Adds `name` to the thread's name list when it is new for the thread.
  void NoteThreadName(const char* name, int32_t thread_id,
                      internal::TraceLogThreadState* state);
  TraceEvent* GetEventByHandleInternal(TraceEventHandle handle,
                                       bool* lock_taken);
  std::string EchoEventToLog(char phase, MonotonicTime timestamp,
                             const TraceEvent* event);
  void EndEventInFilters(const TraceCategory* category, const char* name);
  // Tells the observers that recording stopped; asynchronous observers get
  // a task posted from `from_here`.
  void NotifyObserversWhileLocked(const Location& from_here);

  // Read by every emitted event; kept together.
  std::atomic<uint8_t> enabled_modes_{0};
  // config_.record_mode, for the emit paths that run without the lock.
  std::atomic<int> record_mode_{kRecordUntilFull};
  std::atomic<int> generation_{0};
  std::atomic<AddTraceEventOverrideHook> add_trace_event_override_{nullptr};
  Duration time_offset_;

  Lock lock_;
  Lock thread_info_lock_;
  Lock observer_lock_;

  bool dispatching_to_observers_ = false;

  std::unique_ptr<TraceBuffer> buffer_;
  // The configuration the buffer was made for.
  int buffer_record_mode_ = kRecordUntilFull;
  size_t buffer_size_in_events_ = 0;
  std::unique_ptr<TraceBufferChunk> shared_chunk_;
  size_t shared_chunk_index_ = 0;
  std::vector<std::unique_ptr<TraceEvent>> metadata_events_;

  const int32_t process_id_;
  const uint64_t process_hash_;
  MonotonicTime buffer_limit_reached_timestamp_;

  TraceRecordingConfig config_;
  std::vector<EventFilterConfig> enabled_event_filters_;

  // Guarded by thread_info_lock_.
  std::unordered_map<int32_t, std::string> thread_names_;
  std::unordered_map<int32_t, std::vector<MonotonicTime>> thread_event_start_times_;
  std::unordered_map<std::string, int> thread_colors_;

  // Guarded by lock_.
  std::map<int, std::string> process_labels_;
  int process_sort_index_ = 0;
  std::map<int32_t, int> thread_sort_indices_;

  // Guarded by observer_lock_.
  std::vector<EnabledStateObserver*> enabled_state_observers_;
  struct AsyncObserver {
    WeakPtr<AsyncEnabledStateObserver> observer;
    AsyncEnabledStateObserver* raw;
    scoped_refptr<SequencedTaskRunner> task_runner;
  };
  std::vector<AsyncObserver> async_observers_;

  std::atomic<UpdateDurationOverrideHook> update_duration_override_{nullptr};
  std::atomic<FilterFactoryHook> filter_factory_{nullptr};
};

// --- Entry points of the instrumented code ---------------------------------
// Each is called only after the caller saw the category's state byte set.

// An event on the calling thread, now, with bind id 0.
TraceEventHandle EmitEvent(char phase, const TraceCategory* category,
                           const char* name, const char* scope, uint64_t id,
                           TraceArgumentSet* args, uint32_t flags);
// An event for `thread_id` at `timestamp`. Inline so that the thread clock
// read sits in the caller's frame (see TraceLog::EmitEventForThread).
inline TraceEventHandle EmitEventForThread(char phase,
                                           const TraceCategory* category,
                                           const char* name, const char* scope,
                                           uint64_t id, uint64_t bind_id,
                                           int32_t thread_id,
                                           MonotonicTime timestamp,
                                           TraceArgumentSet* args,
                                           uint32_t flags) {
  return TraceLog::GetInstance()->EmitEventForThread(
      phase, category, name, scope, id, bind_id, thread_id, timestamp, args,
      flags);
}
// Closes a complete event.
void CloseEventDuration(const TraceCategory* category, const char* name,
                        TraceEventHandle handle);
// An event without arguments on the calling thread, now.
void AddTraceEventForCurrentThread(char phase, const TraceCategory* category,
                                   const char* name, const char* scope,
                                   uint64_t id, uint32_t flags,
                                   uint64_t bind_id);

// A context that events are attributed to while it is entered. Entering
// and leaving emit '(' and ')' events when the category is on.
struct AttributionContext {
  const TraceCategory* category;
  const char* name;
  const char* scope;
  uint64_t id;

  void Enter() const;
  void Leave() const;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_LOG_H_

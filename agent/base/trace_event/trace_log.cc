#include "agent/base/trace_event/trace_log.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "agent/base/functional/bind.h"
#include "agent/base/process_handle.h"
#include "agent/base/strings/string_printf.h"
#include "agent/base/strings/string_split.h"
#include "agent/base/strings/string_util.h"
#include "agent/base/system/sys_info.h"
#include "agent/base/task/current_thread.h"
#include "agent/base/task/sequenced_task_runner_handle.h"
#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/threading/thread_local_storage.h"
#include "agent/base/threading/thread_name_registry.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/heap_context_tracker.h"
#include "agent/base/trace_event/heap_profiler_event_filter.h"
#include "agent/base/trace_event/memory_dump_manager.h"
#include "agent/base/trace_event/process_dump.h"
#include "agent/base/trace_event/thread_instruction_count.h"
#include "agent/base/trace_event/trace_buffer.h"
#include "agent/base/trace_event/trace_buffer_chunk.h"
#include "agent/base/trace_event/trace_event_memory_overhead.h"
#include "logging/check.h"
#include "logging/log.h"

namespace kelmbase {
namespace trace_event {

namespace internal {

// What the log keeps per thread, all in one slot so that an event costs a
// single thread-local lookup.
struct TraceLogThreadState {
  // Whether this thread's state is in use (made and not yet torn down).
  // Kept in the state itself rather than in a pointer to it, so that an
  // event reads its thread's state straight from the thread-local block.
  bool live = false;
  // Set while the thread is inside the log; events it emits then are
  // dropped.
  bool inside_log = false;
  bool blocks_message_loop = false;
  // The thread's name as the thread-name registry has it, kept up to date
  // by the registry's observer (below) so that events need not ask the
  // registry.
  const char* current_name = nullptr;
  // The name pointer the thread last reported.
  const char* last_reported_name = nullptr;
  // Whether the thread has an instruction counter: -1 not asked yet, else
  // 0 or 1. The answer never changes for a thread.
  int8_t has_instruction_counter = -1;
  // The thread's own chunk holder, or null.
  TraceLog::ThreadLocalEventBuffer* event_buffer = nullptr;
  // What `event_buffer` holds: its buffer generation, its chunk (owned by
  // it, null when it has none) and that chunk's index in the trace buffer.
  // They live here rather than in the holder so that an event reads this
  // one thread-local line, and not a heap object too, before it takes a
  // slot. Only the holder changes them.
  int buffer_generation = -1;
  TraceBufferChunk* chunk = nullptr;
  size_t chunk_index = 0;
};

}  // namespace internal

using internal::TraceLogThreadState;

namespace {

constexpr size_t kMaxEventFilters = 32;
constexpr char kEventNameAllowlistPredicate[] = "event_whitelist_predicate";

constexpr size_t kChunkSize = TraceBufferChunk::kTraceBufferChunkSize;
constexpr size_t kTraceBufferChunks = 4000;
constexpr size_t kTraceBufferChunksToRecordAsMuchAsPossible = 8000000;
constexpr size_t kMonitorTraceBufferChunks = 1000;
constexpr size_t kEchoToConsoleTraceBufferChunks = 256;

// One FNV-1a step over the whole process id.
uint64_t ProcessHash(int32_t process_id) {
  const uint64_t offset_basis = 0xcbf29ce484222325ull;
  const uint64_t prime = 0x100000001b3ull;
  return (static_cast<uint64_t>(static_cast<int64_t>(process_id)) ^
          offset_basis) *
         prime;
}

int32_t CurrentThreadId() {
  return static_cast<int32_t>(PlatformThread::CurrentId());
}

void DeleteThreadState(void* value);

ThreadLocalStorage::Slot& ThreadStateSlot() {
  static ThreadLocalStorage::Slot* const slot =
      new ThreadLocalStorage::Slot(&DeleteThreadState);
  return *slot;
}

// The calling thread's state lives in the thread's static thread-local
// block, at an address the emit path computes without loading anything, so
// that an event costs one thread-local read and touches no extra heap
// memory. The slot holds a pointer to it so that its destructor releases
// the thread's buffer when the thread ends. It is `live` from its first use
// until then.
constinit thread_local TraceLogThreadState t_thread_state
    __attribute__((tls_model("initial-exec")));

__attribute__((noinline)) TraceLogThreadState* CreateThreadState() {
  if (ThreadLocalStorage::HasBeenDestroyed())
    return nullptr;
  TraceLogThreadState* state = &t_thread_state;
  state->current_name =
      ThreadNameRegistry::GetInstance()->GetNameForCurrentThread();
  ThreadStateSlot().Set(state);
  state->live = true;
  return state;
}

// Keeps each thread's `current_name` equal to what the thread-name registry
// answers for it. The registry tells it, on the naming thread and under the
// registry's leaf lock, so it only writes that thread's own state; a thread
// without a state yet reads its name when the state is made.
class ThreadNameMirror : public ThreadNameRegistry::Observer {
 public:
  void OnThreadNameChanged(const char* name) override {
    if (t_thread_state.live)
      t_thread_state.current_name = name;
  }
};

ThreadNameMirror* GetThreadNameMirror() {
  static ThreadNameMirror* const mirror = new ThreadNameMirror();
  return mirror;
}

// The calling thread's state, made on first use; null once the thread's
// slots are being destroyed (the thread is ending).
inline TraceLogThreadState* CurrentThreadState() {
  if (t_thread_state.live) [[likely]]
    return &t_thread_state;
  return CreateThreadState();
}

// The calling thread's state if it has one; never makes it.
TraceLogThreadState* ExistingThreadState() {
  return t_thread_state.live ? &t_thread_state : nullptr;
}

class ScopedReentrancyGuard {
 public:
  explicit ScopedReentrancyGuard(TraceLogThreadState* state) : state_(state) {
    state_->inside_log = true;
  }
  ScopedReentrancyGuard(const ScopedReentrancyGuard&) = delete;
  ScopedReentrancyGuard& operator=(const ScopedReentrancyGuard&) = delete;
  ~ScopedReentrancyGuard() { state_->inside_log = false; }

 private:
  TraceLogThreadState* const state_;
};

int64_t InstructionCountNow(uint32_t flags, bool other_thread,
                            TraceLogThreadState* state) {
  if ((flags & (kFlagExplicitTimestamp | kFlagNoThreadTime)) != 0 ||
      other_thread) {
    return -1;
  }
  if (state->has_instruction_counter < 0)
    state->has_instruction_counter = ThreadInstructionCount::IsSupported();
  return state->has_instruction_counter != 0 ? ThreadInstructionCount::Now()
                                             : -1;
}

}  // namespace

// --- ThreadLocalEventBuffer --------------------------------------------------

// A thread's own chunk. Touched only by its thread, except that chunks are
// exchanged with the buffer under the log's main lock.
//
// Lifetime: made on the thread's first recorded event while the thread has
// a CurrentThread and a runner handle; deleted on that thread when its
// task machinery goes away (WillDestroyCurrentThread), when a newer buffer
// generation replaces it, or when the thread opts out of its own buffer.
// Deleting it hands its chunk back, so the events in it stay readable.
class TraceLog::ThreadLocalEventBuffer
    : public CurrentThread::DestructionObserver,
      public MemoryDumpProvider {
 public:
  ThreadLocalEventBuffer(TraceLog* trace_log,
                         TraceLogThreadState* thread_state,
                         CurrentThread current_thread);
  ~ThreadLocalEventBuffer() override;

  TraceEvent* AddTraceEvent(TraceEventHandle* handle) {
    return AddTraceEvent(thread_state_, handle);
  }
  // The same for the buffer `state` holds, without reading the buffer
  // object itself.
  static TraceEvent* AddTraceEvent(TraceLogThreadState* state,
                                   TraceEventHandle* handle) {
    TraceBufferChunk* chunk = state->chunk;
    if (chunk == nullptr || chunk->IsFull()) [[unlikely]] {
      chunk = state->event_buffer->ReplaceChunk();
      if (chunk == nullptr)
        return nullptr;
    }
    size_t event_index;
    TraceEvent* event = chunk->AddTraceEvent(&event_index);
    *handle =
        MakeTraceEventHandle(chunk->seq(), state->chunk_index, event_index);
    return event;
  }
  TraceEvent* GetEventByHandle(TraceEventHandle handle);
  // Called with the main lock held.
  void FlushWhileLocked();

  // CurrentThread::DestructionObserver:
  void WillDestroyCurrentThread() override;

  bool WriteMemoryDump(const MemoryDumpArgs& args, ProcessDump* dump) override;

 private:
  // Gives a full chunk back and takes a fresh one; null when the buffer
  // has none to give.
  TraceBufferChunk* ReplaceChunk();

  TraceLog* const trace_log_;
  // Holds this buffer's generation and chunk (see there).
  TraceLogThreadState* const thread_state_;
  // The task machinery this buffer is registered with.
  CurrentThread current_thread_;
};

namespace {
void DeleteThreadState(void* value) {
  auto* state = static_cast<TraceLogThreadState*>(value);
  state->live = false;
  // A buffer normally goes with its thread's task machinery, before the
  // thread ends. One still here belongs to machinery that outlived its
  // thread; delete it now (it unregisters itself) so that the machinery
  // never calls into a thread state that is gone.
  delete state->event_buffer;
  *state = TraceLogThreadState();
}
}  // namespace

TraceLog::ThreadLocalEventBuffer::ThreadLocalEventBuffer(
    TraceLog* trace_log, TraceLogThreadState* thread_state,
    CurrentThread current_thread)
    : trace_log_(trace_log),
      thread_state_(thread_state),
      current_thread_(current_thread) {
  thread_state_->buffer_generation =
      trace_log->generation_.load(std::memory_order_acquire);
  current_thread_.AddDestructionObserver(this);
  MemoryDumpManager::GetInstance()->RegisterDumpProvider(
      this, "ThreadLocalEventBuffer", ThreadTaskRunnerHandle::Get());
}

TraceLog::ThreadLocalEventBuffer::~ThreadLocalEventBuffer() {
  current_thread_.RemoveDestructionObserver(this);
  MemoryDumpManager::GetInstance()->UnregisterDumpProvider(this);
  {
    ScopedLock lock(trace_log_->lock_);
    FlushWhileLocked();
  }
  if (thread_state_->event_buffer == this)
    thread_state_->event_buffer = nullptr;
}

void TraceLog::ThreadLocalEventBuffer::WillDestroyCurrentThread() {
  delete this;
}

TraceBufferChunk* TraceLog::ThreadLocalEventBuffer::ReplaceChunk() {
  ScopedLock lock(trace_log_->lock_);
  FlushWhileLocked();
  thread_state_->chunk =
      trace_log_->buffer_->GetChunk(&thread_state_->chunk_index).release();
  trace_log_->CheckIfBufferIsFullWhileLocked();
  return thread_state_->chunk;
}

TraceEvent* TraceLog::ThreadLocalEventBuffer::GetEventByHandle(
    TraceEventHandle handle) {
  TraceBufferChunk* chunk = thread_state_->chunk;
  if (chunk == nullptr || HandleChunkSeq(handle) != chunk->seq() ||
      HandleChunkIndex(handle) != thread_state_->chunk_index) {
    return nullptr;
  }
  return chunk->GetEventAt(HandleEventIndex(handle));
}

void TraceLog::ThreadLocalEventBuffer::FlushWhileLocked() {
  std::unique_ptr<TraceBufferChunk> chunk(thread_state_->chunk);
  thread_state_->chunk = nullptr;
  if (!chunk)
    return;
  // A chunk of an older generation belongs to a buffer that is gone; it
  // goes with the holder.
  if (trace_log_->generation_.load(std::memory_order_relaxed) ==
      thread_state_->buffer_generation) {
    trace_log_->buffer_->ReturnChunk(thread_state_->chunk_index,
                                     std::move(chunk));
  }
}

bool TraceLog::ThreadLocalEventBuffer::WriteMemoryDump(
    const MemoryDumpArgs&, ProcessDump* dump) {
  TraceBufferChunk* chunk = thread_state_->chunk;
  if (chunk == nullptr)
    return true;
  TraceEventMemoryOverhead overhead;
  chunk->EstimateTraceMemoryOverhead(&overhead);
  overhead.DumpInto(
      FormatString("tracing/thread_%d", CurrentThreadId()).c_str(), dump);
  return true;
}

// --- TraceLog ---------------------------------------------------------------

TraceLog::TraceLog()
    : process_id_(static_cast<int32_t>(GetCurrentProcessId())),
      process_hash_(ProcessHash(process_id_)) {
  {
    ScopedHeapProfilerIgnore ignore_allocations;
    buffer_ = CreateTraceBuffer(config_);
  }
  MemoryDumpManager::GetInstance()->RegisterDumpProvider(this, "TraceLog",
                                                         nullptr);
  // Before any thread state exists: states are made only through the log.
  ThreadNameRegistry::GetInstance()->AddObserver(GetThreadNameMirror());
}

TraceLog::~TraceLog() = default;

// static
std::unique_ptr<TraceBuffer> TraceLog::CreateTraceBuffer(
    const TraceRecordingConfig& config) {
  const int mode = config.record_mode;
  const size_t size = config.buffer_size_in_events;
  auto chunks = [size](size_t default_chunks) {
    return size < kChunkSize ? default_chunks : size / kChunkSize;
  };
  if ((mode & kRecordContinuously) != 0) {
    return TraceBuffer::CreateTraceBufferRingBufferOfSize(
        chunks(kMonitorTraceBufferChunks));
  }
  if ((mode & kEchoToConsole) != 0) {
    return TraceBuffer::CreateTraceBufferRingBufferOfSize(
        chunks(kEchoToConsoleTraceBufferChunks));
  }
  if ((mode & kRecordAsMuchAsPossible) != 0) {
    return TraceBuffer::CreateTraceBufferVectorOfSize(
        chunks(kTraceBufferChunksToRecordAsMuchAsPossible));
  }
  return TraceBuffer::CreateTraceBufferVectorOfSize(
      chunks(kTraceBufferChunks));
}

TraceCategory* TraceLog::GetCategoryState(const char* name) {
  TraceCategory* category = CategoryRegistry::FindCategoryByName(name);
  if (category != nullptr)
    return category;
  ScopedLock lock(lock_);
  CategoryRegistry::GetOrCreateCategoryLocked(
      name, &TraceLog::UpdateCategoryStateCallback, this, &category);
  return category;
}

// static
void TraceLog::UpdateCategoryStateCallback(TraceCategory* category,
                                           void* context) {
  static_cast<TraceLog*>(context)->UpdateCategoryState(category);
}

void TraceLog::UpdateCategoryState(TraceCategory* category) {
  const char* name = category->category_name();
  uint8_t state = 0;
  if ((enabled_modes() & kRecordingMode) != 0 &&
      (config_.category_filter.IsCategoryGroupEnabled(name) ||
       category == CategoryRegistry::Builtin(CategoryRegistry::kMetadata))) {
    state |= TraceCategory::kEnabledForRecording;
  }

  uint32_t mask = 0;
  if ((enabled_modes() & kFilteringMode) != 0) {
    const size_t count =
        std::min(enabled_event_filters_.size(), kMaxEventFilters);
    for (size_t i = 0; i < count; ++i) {
      if (enabled_event_filters_[i].IsCategoryGroupEnabled(name)) {
        state |= TraceCategory::kEnabledForFiltering;
        mask |= uint32_t{1} << i;
      }
    }
  }
  category->filter_mask.store(mask, std::memory_order_relaxed);
  // Emitting threads load the state with acquire before they read the
  // filter list and mask.
  category->state.store(state, std::memory_order_release);
}

void TraceLog::UpdateCategoryRegistry() {
  CreateFiltersForConfig();
  for (TraceCategory& category : CategoryRegistry::GetAllCategories())
    UpdateCategoryState(&category);
}

// static
std::vector<std::unique_ptr<TraceEventFilter>>& TraceLog::GetEventFilters() {
  static auto* const filters =
      new std::vector<std::unique_ptr<TraceEventFilter>>();
  return *filters;
}

void TraceLog::CreateFiltersForConfig() {
  if ((enabled_modes() & kFilteringMode) == 0 || !GetEventFilters().empty())
    return;
  for (const EventFilterConfig& filter_config : enabled_event_filters_) {
    if (GetEventFilters().size() >= kMaxEventFilters)
      break;
    std::unique_ptr<TraceEventFilter> new_filter;
    const std::string& predicate = filter_config.predicate_name();
    if (predicate == kEventNameAllowlistPredicate) {
      auto whitelist = std::make_unique<std::set<std::string>>();
      // The condition is written out: its text is the failure record's.
      CHECK(filter_config.GetArgAsSet("event_name_allowlist", &*whitelist));
      new_filter = std::make_unique<EventNameFilter>(std::move(whitelist));
    } else if (predicate == HeapProfilerEventFilter::kName) {
      new_filter = std::make_unique<HeapProfilerEventFilter>();
    } else {
      FilterFactoryHook factory =
          filter_factory_.load(std::memory_order_acquire);
      if (factory != nullptr)
        new_filter = factory(filter_config);
    }
    CHECK(new_filter) << "Unknown trace filter " << predicate;
    GetEventFilters().push_back(std::move(new_filter));
  }
}

void TraceLog::SetEnabled(const TraceRecordingConfig& config, uint8_t modes) {
  ScopedLock lock(lock_);
  const uint8_t old_modes = enabled_modes();
  if ((modes & kRecordingMode) != 0) {
    const std::vector<EventFilterConfig> filters = enabled_event_filters_;
    config_ = config;
    if ((old_modes & kRecordingMode) == 0 &&
        (config_.record_mode != buffer_record_mode_ ||
         config_.buffer_size_in_events != buffer_size_in_events_)) {
      // The buffer no longer fits the configuration: start a fresh one.
      shared_chunk_.reset();
      ReplaceBufferWhileLocked();
    }
    if ((modes & kFilteringMode) == 0)
      config_.event_filters = filters;
    record_mode_.store(config_.record_mode, std::memory_order_relaxed);
  }
  if ((modes & kFilteringMode) != 0)
    enabled_event_filters_ = config.event_filters;
  enabled_modes_.store(old_modes | modes, std::memory_order_relaxed);
  UpdateCategoryRegistry();
}

void TraceLog::SetDisabled(uint8_t modes) {
  ScopedLock lock(lock_);
  SetDisabledWhileLocked(modes);
}

TraceRecordingConfig TraceLog::GetCurrentConfig() {
  ScopedLock lock(lock_);
  return config_;
}

void TraceLog::SetDisabledWhileLocked(uint8_t modes) {
  const uint8_t old_modes = enabled_modes();
  if ((old_modes & modes) == 0 || dispatching_to_observers_)
    return;

  enabled_modes_.store(old_modes & ~modes, std::memory_order_relaxed);
  if ((modes & kFilteringMode) != 0)
    enabled_event_filters_.clear();
  if ((modes & kRecordingMode) != 0)
    config_.ResetKeepingRecordMode();
  UpdateCategoryRegistry();

  if ((old_modes & kRecordingMode) == 0 || (modes & kRecordingMode) == 0)
    return;

  AddMetadataEventsWhileLocked();
  metadata_events_.clear();

  dispatching_to_observers_ = true;
  lock_.Release();
  // The asynchronous observers' tasks are posted from here.
  NotifyObserversWhileLocked(FROM_HERE);
  lock_.Acquire();
  dispatching_to_observers_ = false;
}

void TraceLog::NotifyObserversWhileLocked(const Location& from_here) {
  // Observers are told with the observer lock held, which is not
  // recursive: an observer must not add or remove observers while it is
  // being told.
  ScopedLock observer_lock(observer_lock_);
  for (EnabledStateObserver* observer : enabled_state_observers_)
    observer->OnTraceLogDisabled();
  for (const AsyncObserver& entry : async_observers_) {
    entry.task_runner->PostTask(
        from_here, BindOneShot(
                       [](WeakPtr<AsyncEnabledStateObserver> observer) {
                         if (observer)
                           observer->OnTraceLogDisabled();
                       },
                       entry.observer));
  }
}

void TraceLog::AddEnabledStateObserver(EnabledStateObserver* observer) {
  ScopedLock lock(observer_lock_);
  enabled_state_observers_.push_back(observer);
}

void TraceLog::RemoveEnabledStateObserver(EnabledStateObserver* observer) {
  ScopedLock lock(observer_lock_);
  enabled_state_observers_.erase(
      std::remove(enabled_state_observers_.begin(),
                  enabled_state_observers_.end(), observer),
      enabled_state_observers_.end());
}

void TraceLog::AddAsyncEnabledStateObserver(
    WeakPtr<AsyncEnabledStateObserver> observer) {
  AsyncEnabledStateObserver* raw = observer.get();
  ScopedLock lock(observer_lock_);
  async_observers_.push_back(AsyncObserver{std::move(observer), raw,
                                           SequencedTaskRunnerHandle::Get()});
}

void TraceLog::RemoveAsyncEnabledStateObserver(
    AsyncEnabledStateObserver* observer) {
  ScopedLock lock(observer_lock_);
  async_observers_.erase(
      std::remove_if(async_observers_.begin(), async_observers_.end(),
                     [observer](const AsyncObserver& entry) {
                       return entry.raw == observer;
                     }),
      async_observers_.end());
}

void TraceLog::SetAddTraceEventOverrideHook(AddTraceEventOverrideHook hook) {
  add_trace_event_override_.store(hook, std::memory_order_release);
}

void TraceLog::SetUpdateDurationOverrideHook(UpdateDurationOverrideHook hook) {
  update_duration_override_.store(hook, std::memory_order_release);
}

void TraceLog::SetFilterFactoryHook(FilterFactoryHook hook) {
  filter_factory_.store(hook, std::memory_order_release);
}

void TraceLog::SetProcessSortIndex(int sort_index) {
  ScopedLock lock(lock_);
  process_sort_index_ = sort_index;
}

void TraceLog::SetProcessLabel(int label_id, const std::string& label) {
  ScopedLock lock(lock_);
  process_labels_[label_id] = label;
}

void TraceLog::SetThreadSortIndex(int32_t thread_id, int sort_index) {
  ScopedLock lock(lock_);
  thread_sort_indices_[thread_id] = sort_index;
}

void TraceLog::SetCurrentThreadBlocksMessageLoop() {
  TraceLogThreadState* state = CurrentThreadState();
  if (state == nullptr)
    return;
  state->blocks_message_loop = true;
  // A buffer made before would keep serving the thread.
  delete state->event_buffer;
}

std::string TraceLog::GetThreadNames(int32_t thread_id) {
  ScopedLock lock(thread_info_lock_);
  auto it = thread_names_.find(thread_id);
  return it == thread_names_.end() ? std::string() : it->second;
}

MonotonicTime TraceLog::overflow_timestamp() {
  ScopedLock lock(lock_);
  return buffer_limit_reached_timestamp_;
}

bool TraceLog::ShouldAddAfterUpdatingState(const TraceCategory* category,
                                           int32_t thread_id) {
  return ShouldAddForThreadState(category, thread_id, CurrentThreadId(),
                                 CurrentThreadState());
}

inline bool TraceLog::ShouldAddForThreadState(const TraceCategory* category,
                                              int32_t thread_id,
                                              int32_t current_thread_id,
                                              TraceLogThreadState* state) {
  if (category->state.load(std::memory_order_acquire) == 0 ||
      state == nullptr || state->inside_log) {
    return false;
  }
  if (thread_id != current_thread_id)
    return true;

  const char* name = state->current_name;
  if (name != state->last_reported_name) [[unlikely]]
    NoteThreadName(name, thread_id, state);
  return true;
}

void TraceLog::NoteThreadName(const char* name, int32_t thread_id,
                              TraceLogThreadState* state) {
  // A null or empty name adds nothing; remembering it too spares the next
  // event the call.
  state->last_reported_name = name;
  if (name == nullptr || *name == '\0')
    return;

  ScopedLock lock(thread_info_lock_);
  auto it = thread_names_.find(thread_id);
  if (it == thread_names_.end()) {
    thread_names_.emplace(thread_id, name);
    return;
  }
  const std::vector<StringPiece> known =
      SplitIntoPieces(it->second, ",", kKeepWhitespace, kWantAll);
  if (std::find(known.begin(), known.end(), StringPiece(name)) == known.end()) {
    if (!it->second.empty())
      it->second.push_back(',');
    it->second.append(name);
  }
}

inline TraceLog::ThreadLocalEventBuffer* TraceLog::EnsureThreadLocalEventBuffer(
    TraceLogThreadState* state) {
  ThreadLocalEventBuffer* buffer = state->event_buffer;
  // A buffer exists only while the task machinery it registered with does,
  // so the thread still has its CurrentThread; a thread that blocks its
  // message loop never keeps one.
  if (buffer != nullptr &&
      state->buffer_generation ==
          generation_.load(std::memory_order_acquire)) [[likely]] {
    return buffer;
  }
  return CreateThreadLocalEventBuffer(state);
}

TraceLog::ThreadLocalEventBuffer* TraceLog::CreateThreadLocalEventBuffer(
    TraceLogThreadState* state) {
  if (state->blocks_message_loop)
    return nullptr;
  // One of an older generation belongs to a buffer that is gone.
  delete state->event_buffer;
  // Only a thread that runs tasks gets a buffer of its own; it keeps it
  // until its task machinery goes away or a new buffer generation starts.
  const CurrentThread current_thread = CurrentThread::Get();
  if (!current_thread || !ThreadTaskRunnerHandle::IsSet())
    return nullptr;
  state->event_buffer = new ThreadLocalEventBuffer(this, state, current_thread);
  return state->event_buffer;
}

void TraceLog::ReplaceSharedChunkWhileLocked() {
  if (shared_chunk_)
    buffer_->ReturnChunk(shared_chunk_index_, std::move(shared_chunk_));
  shared_chunk_ = buffer_->GetChunk(&shared_chunk_index_);
}

TraceEvent* TraceLog::AddEventToSharedChunkWhileLocked(
    TraceEventHandle* handle, bool check_buffer_is_full) {
  if (shared_chunk_ && shared_chunk_->IsFull())
    buffer_->ReturnChunk(shared_chunk_index_, std::move(shared_chunk_));
  if (!shared_chunk_) {
    shared_chunk_ = buffer_->GetChunk(&shared_chunk_index_);
    if (check_buffer_is_full) {
      CheckIfBufferIsFullWhileLocked();
      // The check may have stopped recording, which writes metadata into
      // the shared chunk and lets other threads in while the observers are
      // told: the chunk taken above may have filled up or been replaced.
      if (shared_chunk_ && shared_chunk_->IsFull())
        ReplaceSharedChunkWhileLocked();
      if (!shared_chunk_)
        shared_chunk_ = buffer_->GetChunk(&shared_chunk_index_);
    }
  }
  if (!shared_chunk_)
    return nullptr;
  size_t event_index;
  TraceEvent* event = shared_chunk_->AddTraceEvent(&event_index);
  if (handle != nullptr) {
    *handle = MakeTraceEventHandle(shared_chunk_->seq(), shared_chunk_index_,
                                   event_index);
  }
  return event;
}

void TraceLog::CheckIfBufferIsFullWhileLocked() {
  if (!buffer_->IsFull())
    return;
  if (buffer_limit_reached_timestamp_.is_null())
    buffer_limit_reached_timestamp_ = MonotonicTime::Now() - time_offset_;
  SetDisabledWhileLocked(kRecordingMode);
}

// The common case (a category that records without filters, on a thread
// with its own chunk, no override hook, no echo) runs straight through:
// one thread-local load, no lock, no allocation. Everything else goes to
// AddEventSlow. Inlined into both emit paths, one call layer less per
// event.
__attribute__((always_inline)) inline TraceEventHandle TraceLog::AddEvent(
    char phase, const TraceCategory* category, const char* name,
    const char* scope, uint64_t id, uint64_t bind_id, int32_t thread_id,
    MonotonicTime timestamp, ThreadCpuTime thread_timestamp,
    TraceArgumentSet* args, uint32_t flags, int32_t current_thread_id) {
  TraceLogThreadState* thread_state = CurrentThreadState();
  if (!ShouldAddForThreadState(category, thread_id, current_thread_id,
                               thread_state)) {
    return 0;
  }
  ScopedReentrancyGuard guard(thread_state);

  if ((flags & (kFlagFlowIn | kFlagFlowOut)) != 0 &&
      (flags & kFlagProcessLocalBindId) != 0) {
    bind_id ^= process_hash_;
  }
  EventStamp stamp;
  // The offset is 0 unless set; skip the saturating subtraction then.
  stamp.timestamp =
      time_offset_.is_zero() ? timestamp : timestamp - time_offset_;
  stamp.thread_timestamp = thread_timestamp;
  stamp.thread_instruction_count = InstructionCountNow(
      flags, thread_id != current_thread_id, thread_state);
  const uint8_t state = category->state.load(std::memory_order_acquire);
  if ((state & TraceCategory::kEnabledForRecording) == 0)
    return AddEventSlow(state, nullptr, stamp, phase, category, name, scope,
                        id, bind_id, thread_id, args, flags);

  ThreadLocalEventBuffer* local_buffer =
      EnsureThreadLocalEventBuffer(thread_state);
  if (state != TraceCategory::kEnabledForRecording ||
      local_buffer == nullptr ||
      add_trace_event_override_.load(std::memory_order_acquire) != nullptr ||
      (record_mode_.load(std::memory_order_relaxed) & kEchoToConsole) != 0)
      [[unlikely]] {
    return AddEventSlow(state, local_buffer, stamp, phase, category, name,
                        scope, id, bind_id, thread_id, args, flags);
  }
  TraceEventHandle handle;
  TraceEvent* slot = ThreadLocalEventBuffer::AddTraceEvent(thread_state,
                                                           &handle);
  if (slot == nullptr)
    return 0;
  slot->Reset(thread_id, stamp.timestamp, stamp.thread_timestamp,
              stamp.thread_instruction_count, phase, category, name, scope,
              id, bind_id, args, flags);
  return handle;
}

TraceEventHandle TraceLog::EmitStampedEvent(
    char phase, const TraceCategory* category, const char* name,
    const char* scope, uint64_t id, uint64_t bind_id, int32_t thread_id,
    MonotonicTime timestamp, ThreadCpuTime thread_timestamp,
    TraceArgumentSet* args, uint32_t flags, int32_t current_thread_id) {
  return AddEvent(phase, category, name, scope, id, bind_id, thread_id,
                  timestamp, thread_timestamp, args, flags,
                  current_thread_id);
}

TraceEventHandle TraceLog::EmitEventWithTimes(
    char phase, const TraceCategory* category, const char* name,
    const char* scope, uint64_t id, uint64_t bind_id, int32_t thread_id,
    MonotonicTime timestamp, ThreadCpuTime thread_timestamp,
    TraceArgumentSet* args, uint32_t flags) {
  return AddEvent(phase, category, name, scope, id, bind_id, thread_id,
                  timestamp, thread_timestamp, args, flags, CurrentThreadId());
}

TraceEventHandle TraceLog::AddEventSlow(
    uint8_t state, ThreadLocalEventBuffer* local_buffer,
    const EventStamp& stamp, char phase, const TraceCategory* category,
    const char* name, const char* scope, uint64_t id, uint64_t bind_id,
    int32_t thread_id, TraceArgumentSet* args, uint32_t flags) {
  const MonotonicTime event_timestamp = stamp.timestamp;
  const ThreadCpuTime thread_timestamp = stamp.thread_timestamp;
  const int64_t instruction_count = stamp.thread_instruction_count;

  if ((state & TraceCategory::kEnabledForRecording) != 0) {
    AddTraceEventOverrideHook override_hook =
        add_trace_event_override_.load(std::memory_order_acquire);
    if (override_hook != nullptr) {
      TraceEvent event(thread_id, event_timestamp, thread_timestamp,
                       instruction_count, phase, category, name, scope, id,
                       bind_id, args, flags);
      TraceEventHandle handle = 0;
      override_hook(&event, local_buffer != nullptr, &handle);
      return handle;
    }
  }

  std::unique_ptr<TraceEvent> filtered_event;
  bool discarded = false;
  if ((state & TraceCategory::kEnabledForFiltering) != 0) {
    filtered_event = std::make_unique<TraceEvent>(
        thread_id, event_timestamp, thread_timestamp, instruction_count,
        phase, category, name, scope, id, bind_id, args, flags);
    const uint32_t mask = category->filters();
    const auto& filters = GetEventFilters();
    bool accepted = false;
    for (size_t i = 0; i < filters.size() && i < kMaxEventFilters; ++i) {
      if ((mask & (uint32_t{1} << i)) != 0 &&
          filters[i]->AcceptEvent(*filtered_event)) {
        accepted = true;
      }
    }
    discarded = !accepted;
  }

  TraceEventHandle handle = 0;
  std::string echo_text;
  if ((state & TraceCategory::kEnabledForRecording) != 0 && !discarded) {
    bool locked = false;
    TraceEvent* slot;
    if (local_buffer != nullptr) {
      slot = local_buffer->AddTraceEvent(&handle);
    } else {
      lock_.Acquire();
      locked = true;
      slot = AddEventToSharedChunkWhileLocked(&handle, true);
    }
    if (slot != nullptr) {
      if (filtered_event) {
        slot->MoveFrom(filtered_event.get());
      } else {
        slot->Reset(thread_id, event_timestamp, thread_timestamp,
                    instruction_count, phase, category, name, scope, id,
                    bind_id, args, flags);
      }
      if ((record_mode_.load(std::memory_order_relaxed) & kEchoToConsole) != 0) {
        echo_text = EchoEventToLog(phase == kPhaseComplete ? kPhaseBegin : phase,
                                   event_timestamp, slot);
      }
    }
    if (locked)
      lock_.Release();
  }

  if (!echo_text.empty())
    LOG(ERROR) << echo_text;
  return handle;
}

void TraceLog::CloseEventDuration(const TraceCategory* category,
                                  const char* name, TraceEventHandle handle) {
  if (!category->IsEnabled())
    return;
  const MonotonicTime now = MonotonicTime::Now() - time_offset_;
  const ThreadCpuTime thread_now = ThreadCpuTime::Now();
  const int64_t instructions = ThreadInstructionCount::IsSupported()
                                   ? ThreadInstructionCount::Now()
                                   : -1;
  UpdateDurationExplicit(category, name, handle, CurrentThreadId(),
                         /*explicit_timestamps=*/false, now, thread_now,
                         instructions);
}

void TraceLog::UpdateDurationExplicit(const TraceCategory* category,
                                      const char* name,
                                      TraceEventHandle handle,
                                      int32_t thread_id,
                                      bool explicit_timestamps,
                                      MonotonicTime now,
                                      ThreadCpuTime thread_now,
                                      int64_t thread_instruction_now) {
  const uint8_t state = category->state.load(std::memory_order_acquire);
  TraceLogThreadState* thread_state = CurrentThreadState();
  if (state == 0 || thread_state == nullptr || thread_state->inside_log)
    return;
  ScopedReentrancyGuard guard(thread_state);

  if ((state & TraceCategory::kEnabledForRecording) != 0) {
    UpdateDurationOverrideHook override_hook =
        update_duration_override_.load(std::memory_order_acquire);
    if (override_hook != nullptr) {
      override_hook(category, name, handle, thread_id, explicit_timestamps,
                    now, thread_now, thread_instruction_now);
      return;
    }
    std::string echo_text;
    bool locked = false;
    TraceEvent* event = GetEventByHandleInternal(handle, &locked);
    if (event != nullptr)
      event->UpdateDuration(now, thread_now, thread_instruction_now);
    // The end is echoed even when the event is gone (echoing runs on a ring
    // buffer, whose chunks are recycled): its begin was echoed and waits on
    // the thread's begin-time stack. An event that was never stored (handle
    // 0) was never echoed either; echoing an end for it would take the
    // begin time of an enclosing event.
    if (HandleChunkSeq(handle) != 0 &&
        (record_mode_.load(std::memory_order_relaxed) & kEchoToConsole) != 0) {
      echo_text = EchoEventToLog(kPhaseEnd, now, event);
    }
    if (locked)
      lock_.Release();
    if (!echo_text.empty())
      LOG(ERROR) << echo_text;
  }

  if ((state & TraceCategory::kEnabledForFiltering) != 0)
    EndEventInFilters(category, name);
}

void TraceLog::EndEventInFilters(const TraceCategory* category,
                                 const char* name) {
  const uint32_t mask = category->filters();
  const auto& filters = GetEventFilters();
  for (size_t i = 0; i < filters.size() && i < kMaxEventFilters; ++i) {
    if ((mask & (uint32_t{1} << i)) != 0)
      filters[i]->EndEvent(category->category_name(), name);
  }
}

TraceEvent* TraceLog::GetEventByHandleInternal(TraceEventHandle handle,
                                               bool* lock_taken) {
  if (HandleChunkSeq(handle) == 0)
    return nullptr;
  TraceLogThreadState* thread_state = ExistingThreadState();
  ThreadLocalEventBuffer* local_buffer =
      thread_state != nullptr ? thread_state->event_buffer : nullptr;
  if (local_buffer != nullptr) {
    TraceEvent* event = local_buffer->GetEventByHandle(handle);
    if (event != nullptr)
      return event;
  }
  if (!*lock_taken) {
    lock_.Acquire();
    *lock_taken = true;
  }
  if (shared_chunk_ && HandleChunkIndex(handle) == shared_chunk_index_) {
    if (shared_chunk_->seq() != HandleChunkSeq(handle))
      return nullptr;
    return shared_chunk_->GetEventAt(HandleEventIndex(handle));
  }
  return buffer_->GetEventByHandle(handle);
}

bool TraceLog::VisitEventByHandle(
    TraceEventHandle handle,
    const std::function<void(const TraceEvent&)>& visitor) {
  bool locked = false;
  TraceEvent* event = GetEventByHandleInternal(handle, &locked);
  if (event != nullptr)
    visitor(*event);
  if (locked)
    lock_.Release();
  return event != nullptr;
}

std::string TraceLog::EchoEventToLog(char phase, MonotonicTime timestamp,
                                     const TraceEvent* event) {
  ScopedLock lock(thread_info_lock_);
  const int32_t thread_id =
      event != nullptr ? event->thread_id() : CurrentThreadId();
  std::vector<MonotonicTime>& stack = thread_event_start_times_[thread_id];

  // An end without an echoed begin has no start to measure from.
  Duration duration;
  if (phase == kPhaseEnd && !stack.empty()) {
    duration = timestamp - stack.back();
    stack.pop_back();
  }

  const std::string& names = thread_names_[thread_id];
  auto color = thread_colors_.find(names);
  if (color == thread_colors_.end()) {
    const int next = static_cast<int>(thread_colors_.size() % 6) + 1;
    color = thread_colors_.emplace(names, next).first;
  }

  std::string text = FormatString("%s: \x1b[0;3%dm", names.c_str(),
                                  color->second);
  for (size_t i = 0; i < stack.size(); ++i)
    text.append("| ");
  if (event != nullptr)
    event->AppendPrettyPrinted(&text);

  if (phase == kPhaseEnd) {
    AppendFormat(&text, " (%.3f ms)", duration.InMillisecondsF());
  } else if (phase == kPhaseBegin) {
    stack.push_back(timestamp);
  }
  text.append("\x1b[0;m");
  return text;
}

void TraceLog::AddMetadataEvent(const char* name, int32_t thread_id,
                                TraceArgumentSet* args) {
  const TraceCategory* category = GetCategoryState("__metadata");
  AddTraceEventOverrideHook override_hook =
      add_trace_event_override_.load(std::memory_order_acquire);
  if (override_hook != nullptr) {
    TraceEvent event(thread_id, MonotonicTime::Now(), ThreadCpuTime(), -1,
                     kPhaseMetadata, category, name, nullptr, 0, 0, args, 0);
    TraceEventHandle handle = 0;
    override_hook(&event, false, &handle);
    return;
  }
  TraceEvent* slot = AddEventToSharedChunkWhileLocked(nullptr, false);
  if (slot == nullptr)
    return;
  slot->Reset(thread_id, MonotonicTime::Now(), ThreadCpuTime(), -1,
              kPhaseMetadata, category, name, nullptr, 0, 0, args, 0);
}

void TraceLog::AddMetadataEventsWhileLocked() {
  AddTraceEventOverrideHook override_hook =
      add_trace_event_override_.load(std::memory_order_acquire);
  for (auto it = metadata_events_.rbegin(); it != metadata_events_.rend();
       ++it) {
    TraceEventHandle handle = 0;
    if (override_hook != nullptr) {
      override_hook(it->get(), false, &handle);
      continue;
    }
    TraceEvent* slot = AddEventToSharedChunkWhileLocked(nullptr, false);
    if (slot != nullptr)
      slot->MoveFrom(it->get());
  }

  const int32_t current_thread_id = CurrentThreadId();
  {
    TraceArgumentSet args;
    args.AddInt("number", GetProcessorCount());
    AddMetadataEvent("num_cpus", 0, &args);
  }
  if (process_sort_index_ != 0) {
    TraceArgumentSet args;
    args.AddInt("sort_index", process_sort_index_);
    AddMetadataEvent("process_sort_index", current_thread_id, &args);
  }
  if (!process_labels_.empty()) {
    std::vector<StringPiece> labels;
    for (const auto& entry : process_labels_)
      labels.push_back(entry.second);
    const std::string joined = JoinStrings(labels, ",");
    TraceArgumentSet args;
    args.AddCopiedString("labels", joined.c_str());
    AddMetadataEvent("process_labels", current_thread_id, &args);
  }
  for (const auto& entry : thread_sort_indices_) {
    if (entry.second == 0)
      continue;
    TraceArgumentSet args;
    args.AddInt("sort_index", entry.second);
    AddMetadataEvent("thread_sort_index", entry.first, &args);
  }
  if (!buffer_limit_reached_timestamp_.is_null()) {
    TraceArgumentSet args;
    args.AddInt("overflowed_at_ts",
                buffer_limit_reached_timestamp_.ToInternalValue());
    AddMetadataEvent("trace_buffer_overflowed", current_thread_id, &args);
  }
}

std::unique_ptr<TraceBuffer> TraceLog::ReplaceBufferWhileLocked() {
  generation_.fetch_add(1, std::memory_order_release);
  std::unique_ptr<TraceBuffer> old_buffer = std::move(buffer_);
  {
    ScopedHeapProfilerIgnore ignore_allocations;
    buffer_ = CreateTraceBuffer(config_);
  }
  buffer_record_mode_ = config_.record_mode;
  buffer_size_in_events_ = config_.buffer_size_in_events;
  buffer_limit_reached_timestamp_ = MonotonicTime();
  return old_buffer;
}

void TraceLog::Flush(const std::function<void(const TraceEvent&)>& visitor) {
  std::unique_ptr<TraceBuffer> old_buffer;
  {
    ScopedLock lock(lock_);
    TraceLogThreadState* thread_state = ExistingThreadState();
    if (thread_state != nullptr && thread_state->event_buffer != nullptr)
      thread_state->event_buffer->FlushWhileLocked();
    if (shared_chunk_)
      buffer_->ReturnChunk(shared_chunk_index_, std::move(shared_chunk_));
    old_buffer = ReplaceBufferWhileLocked();
  }
  while (const TraceBufferChunk* chunk = old_buffer->NextChunk()) {
    for (size_t i = 0; i < chunk->size(); ++i)
      visitor(*chunk->GetEventAt(i));
  }
}

void TraceLog::ResetForTesting() {
  SetAddTraceEventOverrideHook(nullptr);
  SetUpdateDurationOverrideHook(nullptr);
  SetFilterFactoryHook(nullptr);
  {
    ScopedLock observer_lock(observer_lock_);
    enabled_state_observers_.clear();
    async_observers_.clear();
  }
  {
    ScopedLock lock(lock_);
    enabled_modes_.store(0, std::memory_order_relaxed);
    config_ = TraceRecordingConfig();
    record_mode_.store(config_.record_mode, std::memory_order_relaxed);
    enabled_event_filters_.clear();
    GetEventFilters().clear();
    UpdateCategoryRegistry();

    shared_chunk_.reset();
    shared_chunk_index_ = 0;
    ReplaceBufferWhileLocked();
    metadata_events_.clear();

    process_labels_.clear();
    process_sort_index_ = 0;
    thread_sort_indices_.clear();
  }
  {
    ScopedLock lock(thread_info_lock_);
    thread_names_.clear();
    thread_event_start_times_.clear();
    thread_colors_.clear();
  }
  // This thread's name would otherwise count as already listed.
  if (TraceLogThreadState* state = ExistingThreadState())
    state->last_reported_name = nullptr;
}

bool TraceLog::WriteMemoryDump(const MemoryDumpArgs&, ProcessDump* dump) {
  TraceEventMemoryOverhead overhead;
  overhead.Add(TraceEventMemoryOverhead::kOther, sizeof(*this));
  {
    ScopedLock lock(lock_);
    if (buffer_)
      buffer_->EstimateTraceMemoryOverhead(&overhead);
    for (const auto& event : metadata_events_)
      event->EstimateTraceMemoryOverhead(&overhead);
  }
  overhead.AddSelf();
  overhead.DumpInto("tracing/main_trace_log", dump);
  return true;
}

// --- Free functions -----------------------------------------------------------

TraceEventHandle EmitEvent(char phase, const TraceCategory* category,
                           const char* name, const char* scope, uint64_t id,
                           TraceArgumentSet* args, uint32_t flags) {
  return TraceLog::GetInstance()->EmitEventWithThreadNow(
      phase, category, name, scope, id, 0, CurrentThreadId(),
      MonotonicTime::Now(), args, flags);
}

void CloseEventDuration(const TraceCategory* category, const char* name,
                        TraceEventHandle handle) {
  TraceLog::GetInstance()->CloseEventDuration(category, name, handle);
}

void AddTraceEventForCurrentThread(char phase, const TraceCategory* category,
                                   const char* name, const char* scope,
                                   uint64_t id, uint32_t flags,
                                   uint64_t bind_id) {
  TraceLog::GetInstance()->EmitEventForThread(
      phase, category, name, scope, id, bind_id, CurrentThreadId(),
      MonotonicTime::Now(), nullptr, flags);
}

void AttributionContext::Enter() const {
  if (category->IsEnabled()) {
    AddTraceEventForCurrentThread(kPhaseEnterContext, category, name, scope,
                                  id, kFlagHasId, 0);
  }
}

void AttributionContext::Leave() const {
  if (category->IsEnabled()) {
    AddTraceEventForCurrentThread(kPhaseLeaveContext, category, name, scope,
                                  id, kFlagHasId, 0);
  }
}

}  // namespace trace_event
}  // namespace kelmbase

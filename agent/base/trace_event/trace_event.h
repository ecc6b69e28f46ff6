#ifndef AGENT_BASE_TRACE_EVENT_TRACE_EVENT_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_EVENT_H_

#include <cstdint>
#include <string>
#include <utility>

#include "agent/base/time/time.h"
#include "agent/base/trace_event/trace_arguments.h"
#include "agent/base/trace_event/trace_category.h"

namespace kelmbase {
namespace trace_event {

class TraceEventMemoryOverhead;

// Phases.
inline constexpr char kPhaseComplete = 'X';
inline constexpr char kPhaseBegin = 'B';
inline constexpr char kPhaseEnd = 'E';
inline constexpr char kPhaseInstant = 'I';
inline constexpr char kPhaseCounter = 'C';
inline constexpr char kPhaseAsyncBegin = 'b';
inline constexpr char kPhaseAsyncEnd = 'e';
inline constexpr char kPhaseCreateObject = 'N';
inline constexpr char kPhaseSnapshotObject = 'O';
inline constexpr char kPhaseDeleteObject = 'D';
inline constexpr char kPhaseEnterContext = '(';
inline constexpr char kPhaseLeaveContext = ')';
inline constexpr char kPhaseMetadata = 'M';

// Event flags.
inline constexpr uint32_t kFlagCopy = 0x1;
inline constexpr uint32_t kFlagHasId = 0x2;
inline constexpr uint32_t kFlagInstantWithoutTrack = 0x8;
inline constexpr uint32_t kFlagExplicitTimestamp = 0x10;
inline constexpr uint32_t kFlagFlowIn = 0x80;
inline constexpr uint32_t kFlagFlowOut = 0x100;
inline constexpr uint32_t kFlagNoThreadTime = 0x400;
// The bind id is local to this process: with a flow flag, the trace log
// mixes the process hash into it.
inline constexpr uint32_t kFlagProcessLocalBindId = 0x800;

// One recorded event. Events live in the 64 slots of a buffer chunk and
// are re-initialised in place (Reset) rather than allocated one by one.
// An event belongs to the thread that fills its slot until the chunk is
// handed back to the buffer. Not copyable; MoveFrom transfers one.
class TraceEvent {
 public:
  // Timestamp 0, duration -1, instruction count -1, phase 'B', nothing
  // else set.
  TraceEvent();
  // Takes `args` over (it is left empty) and copies the strings that the
  // flags or the argument kinds ask for.
  TraceEvent(int32_t thread_id, MonotonicTime timestamp,
             ThreadCpuTime thread_timestamp, int64_t thread_instruction_count,
             char phase, const TraceCategory* category, const char* name,
             const char* scope, uint64_t id, uint64_t bind_id,
             TraceArgumentSet* args, uint32_t flags);
  TraceEvent(const TraceEvent&) = delete;
  TraceEvent& operator=(const TraceEvent&) = delete;
  ~TraceEvent();

  // Re-initialises the slot in place, as the constructor does; the old
  // arguments and strings are released. Inline: it is the one per-event
  // step of recording into a chunk.
  void Reset(int32_t thread_id, MonotonicTime timestamp,
             ThreadCpuTime thread_timestamp, int64_t thread_instruction_count,
             char phase, const TraceCategory* category, const char* name,
             const char* scope, uint64_t id, uint64_t bind_id,
             TraceArgumentSet* args, uint32_t flags) {
    duration_ = Duration::FromMicroseconds(-1);
    thread_duration_ = Duration();
    thread_instruction_delta_ = 0;
    args_.Reset();
    Init(thread_id, timestamp, thread_timestamp, thread_instruction_count,
         phase, category, name, scope, id, bind_id, args, flags);
  }
  // Back to the default event, releasing arguments and strings.
  void Reset();
  // Releases the arguments and the string storage and leaves every other
  // field as it is: what a recycled chunk does to its used slots, each of
  // which is re-initialised in full when it is handed out again.
  void ReleaseArgumentsAndStorage() {
    args_.Reset();
    if (!storage_.empty())
      storage_.Reset(0);
  }

  // Takes over every field, the strings and the arguments of `other`.
  void MoveFrom(TraceEvent* other);

  // Closes a complete event.
  void UpdateDuration(MonotonicTime now, ThreadCpuTime thread_now,
                      int64_t thread_instruction_now);

  // "name[category]" and, with arguments, ", {a:1, b:\"x\"}".
  void AppendPrettyPrinted(std::string* out) const;

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) const;

  MonotonicTime timestamp() const { return timestamp_; }
  ThreadCpuTime thread_timestamp() const { return thread_timestamp_; }
  Duration duration() const { return duration_; }
  Duration thread_duration() const { return thread_duration_; }
  int64_t thread_instruction_count() const {
    return thread_instruction_count_;
  }
  int64_t thread_instruction_delta() const {
    return thread_instruction_delta_;
  }
  const char* scope() const { return scope_; }
  uint64_t id() const { return id_; }
  const TraceCategory* category() const { return category_; }
  const char* name() const { return name_; }
  const TraceArgumentSet& args() const { return args_; }
  int32_t thread_id() const { return thread_id_; }
  uint32_t flags() const { return flags_; }
  uint64_t bind_id() const { return bind_id_; }
  char phase() const { return phase_; }
  bool has_string_storage() const { return !storage_.empty(); }

 private:
  void Init(int32_t thread_id, MonotonicTime timestamp,
            ThreadCpuTime thread_timestamp, int64_t thread_instruction_count,
            char phase, const TraceCategory* category, const char* name,
            const char* scope, uint64_t id, uint64_t bind_id,
            TraceArgumentSet* args, uint32_t flags) {
    timestamp_ = timestamp;
    thread_timestamp_ = thread_timestamp;
    thread_instruction_count_ = thread_instruction_count;
    scope_ = scope;
    id_ = id;
    category_ = category;
    name_ = name;
    thread_id_ = thread_id;
    flags_ = flags;
    bind_id_ = bind_id;
    phase_ = phase;
    if (args != nullptr && args->size() != 0)
      args_ = std::move(*args);
    // Strings are copied only when asked for; otherwise a slot reused from
    // an event that had some just lets its storage go.
    if ((flags & kFlagCopy) != 0 || args_.HasCopiedStrings() ||
        !storage_.empty()) [[unlikely]] {
      args_.CopyStringsTo(&storage_, (flags & kFlagCopy) != 0, &name_,
                          &scope_);
    }
  }

  MonotonicTime timestamp_;
  ThreadCpuTime thread_timestamp_;
  Duration duration_ = Duration::FromMicroseconds(-1);
  Duration thread_duration_;
  int64_t thread_instruction_count_ = -1;
  int64_t thread_instruction_delta_ = 0;
  const char* scope_ = nullptr;
  uint64_t id_ = 0;
  const TraceCategory* category_ = nullptr;
  const char* name_ = nullptr;
  TraceStringStorage storage_;
  TraceArgumentSet args_;
  int32_t thread_id_ = 0;
  uint32_t flags_ = 0;
  uint64_t bind_id_ = 0;
  char phase_ = kPhaseBegin;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_EVENT_H_

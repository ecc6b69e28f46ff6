#include "agent/base/trace_event/trace_event.h"

#include <utility>

#include "agent/base/trace_event/trace_event_memory_overhead.h"

namespace kelmbase {
namespace trace_event {

TraceEvent::TraceEvent() = default;

TraceEvent::TraceEvent(int32_t thread_id, MonotonicTime timestamp,
                       ThreadCpuTime thread_timestamp,
                       int64_t thread_instruction_count, char phase,
                       const TraceCategory* category, const char* name,
                       const char* scope, uint64_t id, uint64_t bind_id,
                       TraceArgumentSet* args, uint32_t flags) {
  Init(thread_id, timestamp, thread_timestamp, thread_instruction_count,
       phase, category, name, scope, id, bind_id, args, flags);
}

TraceEvent::~TraceEvent() = default;

void TraceEvent::Reset() {
  args_.Reset();
  storage_.Reset(0);
  timestamp_ = MonotonicTime();
  thread_timestamp_ = ThreadCpuTime();
  duration_ = Duration::FromMicroseconds(-1);
  thread_duration_ = Duration();
  thread_instruction_count_ = -1;
  thread_instruction_delta_ = 0;
  scope_ = nullptr;
  id_ = 0;
  category_ = nullptr;
  name_ = nullptr;
  thread_id_ = 0;
  flags_ = 0;
  bind_id_ = 0;
  phase_ = kPhaseBegin;
}

void TraceEvent::MoveFrom(TraceEvent* other) {
  timestamp_ = other->timestamp_;
  thread_timestamp_ = other->thread_timestamp_;
  duration_ = other->duration_;
  thread_duration_ = other->thread_duration_;
  thread_instruction_count_ = other->thread_instruction_count_;
  thread_instruction_delta_ = other->thread_instruction_delta_;
  scope_ = other->scope_;
  id_ = other->id_;
  category_ = other->category_;
  name_ = other->name_;
  storage_.MoveFrom(&other->storage_);
  args_ = std::move(other->args_);
  thread_id_ = other->thread_id_;
  flags_ = other->flags_;
  bind_id_ = other->bind_id_;
  phase_ = other->phase_;
}

void TraceEvent::UpdateDuration(MonotonicTime now, ThreadCpuTime thread_now,
                                int64_t thread_instruction_now) {
  duration_ = now - timestamp_;
  if (!thread_timestamp_.is_null())
    thread_duration_ = thread_now - thread_timestamp_;
  if (thread_instruction_count_ != -1)
    thread_instruction_delta_ =
        thread_instruction_now - thread_instruction_count_;
}

void TraceEvent::AppendPrettyPrinted(std::string* out) const {
  out->append(name_ != nullptr ? name_ : "");
  out->append("[");
  if (category_ != nullptr && category_->category_name() != nullptr)
    out->append(category_->category_name());
  out->append("]");
  if (args_.size() == 0 || args_.name(0) == nullptr)
    return;
  out->append(", {");
  for (size_t i = 0; i < args_.size() && args_.name(i) != nullptr; ++i) {
    if (i > 0)
      out->append(", ");
    out->append(args_.name(i));
    out->append(":");
    AppendArgumentAsJson(args_.value(i), args_.kind(i), out);
  }
  out->append("}");
}

void TraceEvent::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) const {
  overhead->Add(TraceEventMemoryOverhead::kTraceEvent,
                storage_.EstimateMemoryUsage());
  args_.EstimateTraceMemoryOverhead(overhead);
}

}  // namespace trace_event
}  // namespace kelmbase

#include "agent/base/trace_event/typed_event.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "agent/base/threading/platform_thread.h"
#include "agent/base/trace_event/thread_instruction_count.h"
#include "agent/base/trace_event/trace_event.h"
#include "agent/base/trace_event/trace_log.h"

namespace kelmbase {
namespace trace_event {

namespace {
std::atomic<TypedEventHook> g_typed_event_hook{nullptr};
std::atomic<TracePacketHook> g_trace_packet_hook{nullptr};
}  // namespace

TypedEventHandle::TypedEventHandle(TypedEventHandle&& other) noexcept
    : event_(std::exchange(other.event_, nullptr)),
      incremental_state_(std::exchange(other.incremental_state_, nullptr)),
      listener_(std::exchange(other.listener_, nullptr)) {}

TypedEventHandle& TypedEventHandle::operator=(
    TypedEventHandle&& other) noexcept {
  if (this != &other) {
    if (listener_ != nullptr)
      listener_->OnTypedEventCompleted();
    event_ = std::exchange(other.event_, nullptr);
    incremental_state_ = std::exchange(other.incremental_state_, nullptr);
    listener_ = std::exchange(other.listener_, nullptr);
  }
  return *this;
}

TypedEventHandle::~TypedEventHandle() {
  if (listener_ != nullptr)
    listener_->OnTypedEventCompleted();
}

TracePacketHandle::TracePacketHandle(TracePacketHandle&& other) noexcept
    : packet_(std::exchange(other.packet_, nullptr)),
      listener_(std::exchange(other.listener_, nullptr)) {}

TracePacketHandle& TracePacketHandle::operator=(
    TracePacketHandle&& other) noexcept {
  if (this != &other) {
    TracePacketHandle old(std::move(*this));
    packet_ = std::exchange(other.packet_, nullptr);
    listener_ = std::exchange(other.listener_, nullptr);
  }
  return *this;
}

TracePacketHandle::~TracePacketHandle() {
  if (listener_ != nullptr)
    listener_->OnTracePacketCompleted();
  if (packet_ != nullptr)
    packet_->Finalize();
}

void SetTypedEventHook(TypedEventHook hook) {
  g_typed_event_hook.store(hook, std::memory_order_release);
}

void SetTracePacketHook(TracePacketHook hook) {
  g_trace_packet_hook.store(hook, std::memory_order_release);
}

TypedEventHandle BeginTypedEvent(char phase, const TraceCategory* category,
                                 const char* name, MonotonicTime timestamp,
                                 bool explicit_track) {
  TypedEventHook hook = g_typed_event_hook.load(std::memory_order_acquire);
  const int32_t thread_id =
      static_cast<int32_t>(PlatformThread::CurrentId());
  if (hook == nullptr ||
      !TraceLog::GetInstance()->ShouldAddAfterUpdatingState(category,
                                                            thread_id)) {
    return TypedEventHandle();
  }

  uint32_t flags = 0;
  if (!timestamp.is_null())
    flags |= kFlagExplicitTimestamp;
  else
    timestamp = MonotonicTime::Now();
  if (phase == kPhaseInstant && !explicit_track)
    flags |= kFlagInstantWithoutTrack;

  ThreadCpuTime thread_now;
  int64_t instruction_count = -1;
  if ((flags & kFlagExplicitTimestamp) == 0 && !explicit_track) {
    thread_now = ThreadCpuTime::Now();
    if (ThreadInstructionCount::IsSupported())
      instruction_count = ThreadInstructionCount::Now();
  }

  TraceEvent event(thread_id, timestamp, thread_now, instruction_count, phase,
                   category, name, nullptr, 0, 0, nullptr, flags);
  return hook(&event);
}

TracePacketHandle NewTracePacket() {
  TracePacketHook hook = g_trace_packet_hook.load(std::memory_order_acquire);
  if (hook == nullptr)
    return TracePacketHandle();
  return hook();
}

bool MarkTrackSeen(uint64_t track_id,
                   perfetto::internal::TrackEventIncrementalState* state) {
  auto& seen = state->seen_tracks;
  auto it = std::lower_bound(seen.begin(), seen.end(), track_id);
  if (it != seen.end() && *it == track_id)
    return false;
  seen.insert(it, track_id);
  return true;
}

}  // namespace trace_event
}  // namespace kelmbase

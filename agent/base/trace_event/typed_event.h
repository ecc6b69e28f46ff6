#ifndef AGENT_BASE_TRACE_EVENT_TYPED_EVENT_H_
#define AGENT_BASE_TRACE_EVENT_TYPED_EVENT_H_

#include <cstdint>

#include "agent/base/time/time.h"
#include "agent/base/trace_event/perfetto_standin/protozero/message.h"
#include "agent/base/trace_event/perfetto_standin/tracing/track_event_incremental_state.h"
#include "agent/base/trace_event/trace_category.h"

namespace kelmbase {
namespace trace_event {

class TraceEvent;

// Typed trace events: events written as protocol messages through a
// registered hook (the perfetto library's track-event writer) instead of
// into the trace log's buffer. With no hook registered, which is the
// program's case, every call below returns an empty handle.

// An open typed event: the event message to add fields to and its
// sequence's incremental state. Destroying the handle completes the event.
// Move-only; used on the thread that began the event.
class TypedEventHandle {
 public:
  class CompletionListener {
   public:
    virtual ~CompletionListener() = default;
    virtual void OnTypedEventCompleted() = 0;
  };

  TypedEventHandle() = default;
  TypedEventHandle(protozero::Message* event,
                   perfetto::internal::TrackEventIncrementalState* state,
                   CompletionListener* listener)
      : event_(event), incremental_state_(state), listener_(listener) {}
  TypedEventHandle(TypedEventHandle&& other) noexcept;
  TypedEventHandle& operator=(TypedEventHandle&& other) noexcept;
  ~TypedEventHandle();

  explicit operator bool() const { return event_ != nullptr; }
  protozero::Message* event() const { return event_; }
  perfetto::internal::TrackEventIncrementalState* incremental_state() const {
    return incremental_state_;
  }
  perfetto::EventContext context() const {
    return perfetto::EventContext(event_, incremental_state_);
  }

 private:
  protozero::Message* event_ = nullptr;
  perfetto::internal::TrackEventIncrementalState* incremental_state_ = nullptr;
  CompletionListener* listener_ = nullptr;
};

// An open trace packet. Destroying the handle tells the listener and then
// finalises the packet.
class TracePacketHandle {
 public:
  class CompletionListener {
   public:
    virtual ~CompletionListener() = default;
    virtual void OnTracePacketCompleted() = 0;
  };

  TracePacketHandle() = default;
  TracePacketHandle(protozero::Message* packet, CompletionListener* listener)
      : packet_(packet), listener_(listener) {}
  TracePacketHandle(TracePacketHandle&& other) noexcept;
  TracePacketHandle& operator=(TracePacketHandle&& other) noexcept;
  ~TracePacketHandle();

  explicit operator bool() const { return packet_ != nullptr; }
  protozero::Message* packet() const { return packet_; }

 private:
  protozero::Message* packet_ = nullptr;
  CompletionListener* listener_ = nullptr;
};

// The hooks that write typed events and packets. Process-wide; set before
// tracing starts (nothing in this program sets them).
using TypedEventHook = TypedEventHandle (*)(TraceEvent* event);
using TracePacketHook = TracePacketHandle (*)();
void SetTypedEventHook(TypedEventHook hook);
void SetTracePacketHook(TracePacketHook hook);

// Begins a typed event of `phase` in `category` named `name`. A null
// `timestamp` means now. Empty when no hook is registered or the event is
// dropped (category off, or the thread is inside the trace log).
TypedEventHandle BeginTypedEvent(char phase, const TraceCategory* category,
                                 const char* name, MonotonicTime timestamp,
                                 bool explicit_track);

// A new packet from the packet hook, or an empty handle.
TracePacketHandle NewTracePacket();

// Records `track_id` as described in this sequence; true when it was new.
bool MarkTrackSeen(uint64_t track_id,
                   perfetto::internal::TrackEventIncrementalState* state);

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TYPED_EVENT_H_

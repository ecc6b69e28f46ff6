#ifndef AGENT_BASE_TRACE_EVENT_TEST_TYPED_EVENT_RECORDER_H_
#define AGENT_BASE_TRACE_EVENT_TEST_TYPED_EVENT_RECORDER_H_

#include <string>
#include <vector>

#include "agent/base/synchronization/lock.h"
#include "agent/base/trace_event/perfetto_standin/tracing/trace_packet_writer.h"
#include "agent/base/trace_event/typed_event.h"

namespace kelmbase {
namespace trace_event {
namespace test {

// For tests: while it exists, typed events are written, one packet each,
// into a packet sequence that the test reads back, and recording is on for
// the given categories (all plain ones by default). One recorder at a time.
// Typed events must come from one thread at a time.
class TypedEventRecorder : public TypedEventHandle::CompletionListener {
 public:
  // One typed event as written.
  struct Event {
    char phase;
    std::string name;
    std::string category;
    // The event message's payload, with whatever the emitting code added.
    std::string event;
    // The interned data written with the event (empty when none).
    std::string interned_data;
  };

  TypedEventRecorder();
  TypedEventRecorder(const TypedEventRecorder&) = delete;
  TypedEventRecorder& operator=(const TypedEventRecorder&) = delete;
  ~TypedEventRecorder() override;

  // The events completed so far, oldest first.
  std::vector<Event> events();

  void OnTypedEventCompleted() override;

 private:
  static TypedEventHandle WriteEvent(TraceEvent* event);

  Lock lock_;
  perfetto::TracePacketWriter writer_;
};

}  // namespace test
}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TEST_TYPED_EVENT_RECORDER_H_

#ifndef AGENT_BASE_TRACE_EVENT_INTERNED_SOURCE_LOCATION_H_
#define AGENT_BASE_TRACE_EVENT_INTERNED_SOURCE_LOCATION_H_

#include <cstddef>
#include <cstdint>
#include <functional>

#include "agent/base/trace_event/perfetto_standin/tracing/track_event_interned_data_index.h"

namespace kelmbase {
namespace trace_event {

// A place in the source, as typed trace events name it. Keys are equal
// when both name pointers are the same pointers and the lines are equal;
// string contents are never compared, so the same file name at two
// addresses makes two keys.
struct TraceSourceLocation {
  const char* function_name = nullptr;
  const char* file_name = nullptr;
  int32_t line_number = 0;

  bool operator==(const TraceSourceLocation& other) const {
    return function_name == other.function_name &&
           file_name == other.file_name && line_number == other.line_number;
  }

  // Hashes exactly the three fields, never the struct's padding bytes, so
  // equal keys hash equal however they were made.
  size_t Hash() const noexcept;
};

}  // namespace trace_event
}  // namespace kelmbase

template <>
struct std::hash<kelmbase::trace_event::TraceSourceLocation> {
  size_t operator()(
      const kelmbase::trace_event::TraceSourceLocation& location) const noexcept {
    return location.Hash();
  }
};

namespace kelmbase {
namespace trace_event {

// Interns source locations per trace-packet sequence: the first sight of a
// location writes interned-data entry 4 {1: id, 2: file name, 3: function
// name} and later sights return the same id. The line number is not
// written. Used while writing a typed event, on the sequence's thread.
class InternedSourceLocation
    : public perfetto::TrackEventInternedDataIndex<
          InternedSourceLocation, 4, TraceSourceLocation,
          perfetto::BigInternedDataTraits> {
 public:
  static constexpr uint32_t kFieldNumber = 4;

  InternedSourceLocation();
  ~InternedSourceLocation() override;

  // Writes one entry (names only when their pointers are not null).
  static void Add(protozero::Message* interned_data, uint64_t iid,
                  const TraceSourceLocation& location);
};

}  // namespace trace_event
}  // namespace kelmbase


#endif  // AGENT_BASE_TRACE_EVENT_INTERNED_SOURCE_LOCATION_H_

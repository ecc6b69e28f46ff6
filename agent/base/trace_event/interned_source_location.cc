#include "agent/base/trace_event/interned_source_location.h"

#include <cstring>

#include "agent/base/hash.h"

namespace kelmbase {
namespace trace_event {

size_t TraceSourceLocation::Hash() const noexcept {
  // The fields packed without gaps: the struct's own layout has padding
  // after the line number whose bytes are indeterminate.
  unsigned char bytes[sizeof(function_name) + sizeof(file_name) +
                      sizeof(line_number)];
  unsigned char* cursor = bytes;
  memcpy(cursor, &function_name, sizeof(function_name));
  cursor += sizeof(function_name);
  memcpy(cursor, &file_name, sizeof(file_name));
  cursor += sizeof(file_name);
  memcpy(cursor, &line_number, sizeof(line_number));
  return static_cast<size_t>(HashBytes64(bytes, sizeof(bytes)));
}

InternedSourceLocation::InternedSourceLocation() = default;
InternedSourceLocation::~InternedSourceLocation() = default;

// static
void InternedSourceLocation::Add(protozero::Message* interned_data,
                                 uint64_t iid,
                                 const TraceSourceLocation& location) {
  protozero::Message* entry = interned_data->BeginNestedMessage(kFieldNumber);
  entry->AppendVarInt(1, iid);
  if (location.file_name != nullptr)
    entry->AppendString(2, location.file_name);
  if (location.function_name != nullptr)
    entry->AppendString(3, location.function_name);
}

}  // namespace trace_event
}  // namespace kelmbase

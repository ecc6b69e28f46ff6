#ifndef AGENT_BASE_TRACE_EVENT_MEMORY_DUMP_ALLOW_LISTS_H_
#define AGENT_BASE_TRACE_EVENT_MEMORY_DUMP_ALLOW_LISTS_H_

#include "agent/base/strings/string_piece.h"

namespace kelmbase {
namespace trace_event {

// Whether a dump provider of this name may run at background level of
// detail (exact comparison with a built-in list).
bool IsDumpProviderAllowedInBackground(const char* name);

// Whether an allocator dump of this name is kept at background level of
// detail: "global/" or "shared_memory/" followed only by hexadecimal
// digits, or a name that matches the built-in list once each "0x" and the
// hexadecimal digits after it are replaced by "0x?".
bool IsAllocatorDumpNameAllowedInBackground(StringPiece name);

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_MEMORY_DUMP_ALLOW_LISTS_H_

#include "agent/base/trace_event/trace_event_memory_overhead.h"

#include "agent/base/strings/string_printf.h"
#include "agent/base/trace_event/process_dump.h"
#include "logging/check.h"

namespace kelmbase {
namespace trace_event {

namespace {

constexpr const char* kTypeNames[TraceEventMemoryOverhead::kLast] = {
    "(Other)",
    "TraceBuffer",
    "TraceBufferChunk",
    "TraceEvent",
    "TraceEvent(Unused)",
    "TracedValue",
    "ConvertableToTraceFormat",
    "AllocationRegister",
    "TypeNameDeduplicator",
    "StackFrameDeduplicator",
    "std::string",
    "kelmbase::Value",
    "TraceEventMemoryOverhead",
    "FrameMetrics",
};

}  // namespace

TraceEventMemoryOverhead::TraceEventMemoryOverhead() = default;
TraceEventMemoryOverhead::~TraceEventMemoryOverhead() = default;

// static
const char* TraceEventMemoryOverhead::TypeName(ObjectType object_type) {
  CHECK(object_type < kLast);
  return kTypeNames[object_type];
}

void TraceEventMemoryOverhead::Add(ObjectType object_type, size_t allocated,
                                   size_t resident) {
  CHECK(object_type < kLast);
  Row& row = rows_[object_type];
  row.count += 1;
  row.allocated += allocated;
  row.resident += resident;
}

void TraceEventMemoryOverhead::AddSelf() {
  Add(kTraceEventMemoryOverhead, sizeof(*this));
}

size_t TraceEventMemoryOverhead::GetCount(ObjectType object_type) const {
  CHECK(object_type < kLast);
  return rows_[object_type].count;
}

size_t TraceEventMemoryOverhead::GetAllocated(ObjectType object_type) const {
  CHECK(object_type < kLast);
  return rows_[object_type].allocated;
}

size_t TraceEventMemoryOverhead::GetResident(ObjectType object_type) const {
  CHECK(object_type < kLast);
  return rows_[object_type].resident;
}

void TraceEventMemoryOverhead::Update(const TraceEventMemoryOverhead& other) {
  for (size_t i = 0; i < kLast; ++i) {
    rows_[i].count += other.rows_[i].count;
    rows_[i].allocated += other.rows_[i].allocated;
    rows_[i].resident += other.rows_[i].resident;
  }
}

void TraceEventMemoryOverhead::DumpInto(const char* base_name,
                                        ProcessDump* dump) const {
  for (size_t i = 0; i < kLast; ++i) {
    const Row& row = rows_[i];
    if (row.allocated == 0)
      continue;
    AllocatorDump* allocator_dump = dump->CreateAllocatorDump(
        FormatString("%s/%s", base_name, kTypeNames[i]));
    allocator_dump->AddScalar("size", "bytes", row.allocated);
    allocator_dump->AddScalar("resident_size", "bytes", row.resident);
    allocator_dump->AddScalar("object_count", "objects", row.count);
  }
}

}  // namespace trace_event
}  // namespace kelmbase

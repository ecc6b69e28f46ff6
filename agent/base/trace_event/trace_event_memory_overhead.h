#ifndef AGENT_BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_

#include <cstddef>
#include <cstdint>

namespace kelmbase {
namespace trace_event {

class ProcessDump;

// Where the tracing code counts its own memory: per object type, the number
// of objects and their allocated and resident bytes. A plain value; one
// thread fills it.
class TraceEventMemoryOverhead {
 public:
  enum ObjectType : uint32_t {
    kOther = 0,
    kTraceBuffer,
    kTraceBufferChunk,
    kTraceEvent,
    kUnusedTraceEvent,
    kTracedValue,
    kConvertableToTraceFormat,
    kHeapProfilerAllocationRegister,
    kHeapProfilerTypeNameDeduplicator,
    kHeapProfilerStackFrameDeduplicator,
    kStdString,
    kBaseValue,
    kTraceEventMemoryOverhead,
    kFrameMetrics,
    kLast
  };

  TraceEventMemoryOverhead();
  TraceEventMemoryOverhead(const TraceEventMemoryOverhead&) = default;
  TraceEventMemoryOverhead& operator=(const TraceEventMemoryOverhead&) =
      default;
  ~TraceEventMemoryOverhead();

  // One object of `bytes`, allocated and resident.
  void Add(ObjectType type, size_t bytes) { Add(type, bytes, bytes); }
  void Add(ObjectType object_type, size_t allocated, size_t resident);
  // Counts this record itself.
  void AddSelf();
  // A type of kLast or more is a fatal error.
  size_t GetCount(ObjectType object_type) const;
  size_t GetAllocated(ObjectType object_type) const;
  size_t GetResident(ObjectType object_type) const;
  // Adds `other`'s numbers, type by type.
  void Update(const TraceEventMemoryOverhead& other);
  // One allocator dump "<base_name>/<type name>" per type with allocated
  // bytes, holding "size", "resident_size" and "object_count".
  void DumpInto(const char* base_name, ProcessDump* dump) const;

  static const char* TypeName(ObjectType object_type);

 private:
  struct Row {
    uint64_t count = 0;
    uint64_t allocated = 0;
    uint64_t resident = 0;
  };
  Row rows_[kLast];
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_

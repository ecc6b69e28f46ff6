#ifndef AGENT_BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_
#define AGENT_BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_

namespace kelmbase {
namespace trace_event {

class ProcessDump;

// What a dump request asks for.
struct MemoryDumpArgs {
  // 0 = background: only allow-listed names are dumped.
  int level_of_detail = 0;
};

// An object that can report its memory. Registered with the
// MemoryDumpManager; called on the task runner it registered with (or any
// thread when it gave none).
class MemoryDumpProvider {
 public:
  MemoryDumpProvider(const MemoryDumpProvider&) = delete;
  MemoryDumpProvider& operator=(const MemoryDumpProvider&) = delete;
  virtual ~MemoryDumpProvider() = default;

  // Fills `dump`; true when it dumped.
  virtual bool WriteMemoryDump(const MemoryDumpArgs& args,
                               ProcessDump* dump) = 0;

 protected:
  MemoryDumpProvider() = default;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_

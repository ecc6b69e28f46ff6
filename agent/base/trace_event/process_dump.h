#ifndef AGENT_BASE_TRACE_EVENT_PROCESS_DUMP_H_
#define AGENT_BASE_TRACE_EVENT_PROCESS_DUMP_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "agent/base/trace_event/allocator_dump.h"

namespace kelmbase {
namespace trace_event {

// What the memory-dump providers of one process fill for one request: the
// allocator dumps by name. At background level of detail (0) only names on
// the allow-list get their own dump; the others all share one "discarded"
// dump. Filled by one thread at a time.
class ProcessDump {
 public:
  static constexpr int kBackgroundLevelOfDetail = 0;

  ProcessDump(uint64_t process_token_high, uint64_t process_token_low,
              int level_of_detail);
  ProcessDump(const ProcessDump&) = delete;
  ProcessDump& operator=(const ProcessDump&) = delete;
  ~ProcessDump();

  // The dump named `name`, made on first request. Owned by this object.
  AllocatorDump* CreateAllocatorDump(const std::string& name);
  // The first 8 bytes of SHA-1("<token as 32 hex digits>:<name>").
  uint64_t GetDumpId(const std::string& name) const;

  // Null when no dump of that name exists.
  const AllocatorDump* GetAllocatorDump(const std::string& name) const;
  const std::map<std::string, std::unique_ptr<AllocatorDump>>&
  allocator_dumps() const {
    return allocator_dumps_;
  }

 private:
  AllocatorDump* GetBlackHoleDump();

  const uint64_t process_token_high_;
  const uint64_t process_token_low_;
  const int level_of_detail_;
  std::map<std::string, std::unique_ptr<AllocatorDump>> allocator_dumps_;
  std::unique_ptr<AllocatorDump> black_hole_dump_;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_PROCESS_DUMP_H_

#ifndef AGENT_BASE_TRACE_EVENT_ALLOCATOR_DUMP_H_
#define AGENT_BASE_TRACE_EVENT_ALLOCATOR_DUMP_H_

#include <cstdint>
#include <string>
#include <vector>

namespace kelmbase {
namespace trace_event {

// The memory of one named allocator or object pool inside a process dump:
// a list of named scalar entries. Owned by its ProcessDump.
class AllocatorDump {
 public:
  enum EntryKind { kUint64 = 0 };

  struct Entry {
    std::string name;
    std::string units;
    EntryKind kind;
    uint64_t value_uint64;
    std::string value_string;
  };

  AllocatorDump(std::string name, uint64_t id, int level_of_detail);
  AllocatorDump(const AllocatorDump&) = delete;
  AllocatorDump& operator=(const AllocatorDump&) = delete;
  ~AllocatorDump();

  void AddScalar(const char* name, const char* units, uint64_t value);

  const std::string& name() const { return name_; }
  uint64_t id() const { return id_; }
  int level_of_detail() const { return level_of_detail_; }
  // Always 0: nothing in this program sets a dump's flags.
  int flags() const { return flags_; }
  const std::vector<Entry>& entries() const { return entries_; }
  // The first entry called `name`, or null.
  const Entry* FindEntry(const char* name) const;

 private:
  const std::string name_;
  const uint64_t id_;
  const int level_of_detail_;
  int flags_ = 0;
  std::vector<Entry> entries_;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_ALLOCATOR_DUMP_H_

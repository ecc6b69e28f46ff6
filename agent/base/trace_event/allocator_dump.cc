#include "agent/base/trace_event/allocator_dump.h"

#include <utility>

namespace kelmbase {
namespace trace_event {

AllocatorDump::AllocatorDump(std::string name, uint64_t id,
                             int level_of_detail)
    : name_(std::move(name)), id_(id), level_of_detail_(level_of_detail) {}

AllocatorDump::~AllocatorDump() = default;

void AllocatorDump::AddScalar(const char* name, const char* units,
                              uint64_t value) {
  entries_.push_back(Entry{name, units, kUint64, value, std::string()});
}

const AllocatorDump::Entry* AllocatorDump::FindEntry(const char* name) const {
  for (const Entry& entry : entries_) {
    if (entry.name == name)
      return &entry;
  }
  return nullptr;
}

}  // namespace trace_event
}  // namespace kelmbase

#include "agent/base/trace_event/process_dump.h"

#include <cinttypes>
#include <cstring>
#include <utility>

#include "agent/base/sha1.h"
#include "agent/base/strings/string_printf.h"
#include "agent/base/trace_event/memory_dump_allow_lists.h"

namespace kelmbase {
namespace trace_event {

ProcessDump::ProcessDump(uint64_t process_token_high,
                         uint64_t process_token_low, int level_of_detail)
    : process_token_high_(process_token_high),
      process_token_low_(process_token_low),
      level_of_detail_(level_of_detail) {}

ProcessDump::~ProcessDump() = default;

uint64_t ProcessDump::GetDumpId(const std::string& name) const {
  const std::string text =
      FormatString("%016" PRIX64 "%016" PRIX64 ":%s", process_token_high_,
                   process_token_low_, name.c_str());
  uint8_t digest[20];
  Sha1Hash(text.data(), text.size(), digest);
  uint64_t id;
  memcpy(&id, digest, sizeof(id));
  return id;
}

AllocatorDump* ProcessDump::CreateAllocatorDump(const std::string& name) {
  if (level_of_detail_ == kBackgroundLevelOfDetail &&
      !IsAllocatorDumpNameAllowedInBackground(name)) {
    return GetBlackHoleDump();
  }
  auto it = allocator_dumps_.find(name);
  if (it != allocator_dumps_.end())
    return it->second.get();
  auto dump =
      std::make_unique<AllocatorDump>(name, GetDumpId(name), level_of_detail_);
  AllocatorDump* result = dump.get();
  allocator_dumps_.emplace(name, std::move(dump));
  return result;
}

const AllocatorDump* ProcessDump::GetAllocatorDump(
    const std::string& name) const {
  auto it = allocator_dumps_.find(name);
  return it == allocator_dumps_.end() ? nullptr : it->second.get();
}

AllocatorDump* ProcessDump::GetBlackHoleDump() {
  if (!black_hole_dump_) {
    black_hole_dump_ = std::make_unique<AllocatorDump>(
        "discarded", GetDumpId("discarded"), level_of_detail_);
  }
  return black_hole_dump_.get();
}

}  // namespace trace_event
}  // namespace kelmbase

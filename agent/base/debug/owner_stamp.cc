#include "agent/base/debug/owner_stamp.h"

#include <unistd.h>

#include "agent/base/time/time.h"

namespace kelmbase {
namespace debug {
namespace {

std::atomic<uint32_t> g_next_data_id{1};

uint32_t NextDataId() {
  uint32_t id;
  do {
    id = g_next_data_id.fetch_add(1, std::memory_order_relaxed);
  } while (id == 0);
  return id;
}

}  // namespace

void OwnerStamp::Initialize(OwnerStamp* stamp, int64_t process_id) {
  stamp->process_id = process_id != 0 ? process_id : getpid();
  stamp->create_stamp = Time::Now().ToInternalValue();
  stamp->data_id.store(NextDataId(), std::memory_order_release);
}

OwnerStamp::Snapshot OwnerStamp::Read(const OwnerStamp* stamp) {
  Snapshot snapshot;
  snapshot.data_id = stamp->data_id.load(std::memory_order_acquire);
  snapshot.process_id = stamp->process_id;
  snapshot.create_stamp = stamp->create_stamp;
  return snapshot;
}

}  // namespace debug
}  // namespace kelmbase

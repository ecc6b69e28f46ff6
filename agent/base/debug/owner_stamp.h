#ifndef AGENT_BASE_DEBUG_OWNER_STAMP_H_
#define AGENT_BASE_DEBUG_OWNER_STAMP_H_

#include <atomic>
#include <cstdint>

namespace kelmbase {
namespace debug {

// The first 24 bytes of every block the activity tracker writes: which
// process made the block and when. Readers in other processes compare it
// before and after reading to tell whether the block changed hands meanwhile.
struct OwnerStamp {
  // Nonzero once the block is owned; stored last.
  std::atomic<uint32_t> data_id;
  uint32_t reserved;
  int64_t process_id;
  // kelmbase::Time, in microseconds, at initialisation.
  int64_t create_stamp;

  // Claims `stamp` for `process_id` (getpid() when 0) with a new data id
  // from the process-wide counter, which skips 0.
  static void Initialize(OwnerStamp* stamp, int64_t process_id);

  // A plain copy of the three values, for comparisons.
  struct Snapshot {
    uint32_t data_id = 0;
    int64_t process_id = 0;
    int64_t create_stamp = 0;
    bool operator==(const Snapshot&) const = default;
  };
  static Snapshot Read(const OwnerStamp* stamp);
};
static_assert(sizeof(OwnerStamp) == 24);

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_OWNER_STAMP_H_

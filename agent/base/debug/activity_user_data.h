#ifndef AGENT_BASE_DEBUG_ACTIVITY_USER_DATA_H_
#define AGENT_BASE_DEBUG_ACTIVITY_USER_DATA_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "agent/base/debug/owner_stamp.h"
#include "agent/base/strings/string_piece.h"

namespace kelmbase {
namespace debug {

// One named value in a user-data block. Records follow each other from the
// end of the block's owner stamp; a zero type ends them.
struct UserDataRecord {
  // The caller's type code; stored last, so a reader never sees a record
  // whose header is half written.
  std::atomic<uint8_t> type;
  uint8_t name_size;
  // The bytes of the value that are valid now.
  std::atomic<uint16_t> value_size;
  // The whole record: header, name, padding and the value's room.
  uint16_t record_size;
  char name[2];  // `name_size` bytes, then padding to 8.
};
static_assert(offsetof(UserDataRecord, name) == 6);

// Type codes of the values this program's writers store, so that a reader
// of a block knows how to decode them. 0 is taken: it ends the records.
inline constexpr uint8_t kSignedValueType = 1;    // int64_t, host byte order.
inline constexpr uint8_t kUnsignedValueType = 2;  // uint64_t, host byte order.

// A small key/value store in a block of (possibly shared) memory. A value is
// written in place: its size goes to 0, the bytes are copied, then the size
// is set, so a reader in another process sees either nothing or all of it.
// One thread writes a store; readers elsewhere only look at the memory.
class ActivityUserData {
 public:
  static constexpr size_t kMaxNameSize = 255;
  static constexpr size_t kMaxValueSize = 0xFFF8;

  struct ValueInfo {
    uint8_t type = 0;
    char* memory = nullptr;
    std::atomic<uint16_t>* size = nullptr;
    size_t room = 0;
  };

  // A store without memory: every Set is accepted and stores nothing.
  ActivityUserData();
  // A store over `size` bytes at `memory` (8-byte aligned). A block whose
  // owner stamp is unset is claimed for `process_id` (getpid() when 0); a
  // claimed block's records are imported. Records are trusted only as far as
  // they fit: a record that is empty, not a multiple of 8 bytes, or larger
  // than what remains, or whose name or value overruns it, ends the import.
  // When the owner stamp changes while importing, the imported values are
  // dropped and the block is left alone.
  ActivityUserData(void* memory, size_t size, int64_t process_id = 0);
  ActivityUserData(const ActivityUserData&) = delete;
  ActivityUserData& operator=(const ActivityUserData&) = delete;
  virtual ~ActivityUserData();

  // Stores `size` bytes at `value` under `name` (cut to 255 bytes) and
  // returns where they went, or null when nothing could be stored. A new name
  // takes align8(6 + name size) bytes plus align8(min(size, 65528)) for the
  // value, limited by the room left; a one-byte value goes into the name's
  // padding when there is a spare byte. An existing name keeps its record and
  // room (and its type); the value is cut to that room.
  virtual void* Set(StringPiece name, uint8_t type, const void* value,
                    size_t size);

  const std::map<std::string, ValueInfo>& values() const { return values_; }
  // Bytes not yet taken by records.
  size_t available() const { return available_; }

 private:
  void ImportExistingRecords();
  bool OwnerUnchanged() const;

  char* memory_ = nullptr;
  size_t available_ = 0;
  OwnerStamp* header_ = nullptr;
  OwnerStamp::Snapshot attached_owner_;
  std::map<std::string, ValueInfo> values_;
};

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_ACTIVITY_USER_DATA_H_

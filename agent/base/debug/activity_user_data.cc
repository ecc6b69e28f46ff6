#include "agent/base/debug/activity_user_data.h"

#include <algorithm>
#include <cstring>

namespace kelmbase {
namespace debug {
namespace {

constexpr size_t kRecordHeaderSize = offsetof(UserDataRecord, name);
// The smallest remainder that can still hold a record worth reading.
constexpr size_t kMinImportRoom = kRecordHeaderSize + 1;

constexpr size_t Align8(size_t n) { return (n + 7) & ~static_cast<size_t>(7); }

}  // namespace

ActivityUserData::ActivityUserData() = default;

ActivityUserData::ActivityUserData(void* memory, size_t size,
                                   int64_t process_id) {
  if (memory == nullptr || size < sizeof(OwnerStamp)) return;
  header_ = static_cast<OwnerStamp*>(memory);
  memory_ = static_cast<char*>(memory) + sizeof(OwnerStamp);
  available_ = (size - sizeof(OwnerStamp)) & ~static_cast<size_t>(7);
  if (header_->data_id.load(std::memory_order_acquire) == 0) {
    OwnerStamp::Initialize(header_, process_id);
    attached_owner_ = OwnerStamp::Read(header_);
    return;
  }
  attached_owner_ = OwnerStamp::Read(header_);
  ImportExistingRecords();
}

ActivityUserData::~ActivityUserData() = default;

bool ActivityUserData::OwnerUnchanged() const {
  return header_ != nullptr && OwnerStamp::Read(header_) == attached_owner_;
}

void ActivityUserData::ImportExistingRecords() {
  // The block may come from another process: every size is checked against
  // the room it claims before anything behind it is read.
  while (available_ >= kMinImportRoom) {
    auto* record = reinterpret_cast<UserDataRecord*>(memory_);
    const uint8_t type = record->type.load(std::memory_order_acquire);
    if (type == 0) break;
    const size_t record_size = record->record_size;
    const size_t name_size = record->name_size;
    const size_t name_end = kRecordHeaderSize + name_size;
    const size_t header_size = Align8(name_end);
    if (record_size == 0 || record_size % 8 != 0 || record_size > available_ ||
        header_size > record_size) {
      break;
    }
    char* value;
    size_t room;
    if (record_size == header_size) {
      // No value area: a one-byte value may sit in the name's last padding
      // byte.
      room = header_size > name_end ? 1 : 0;
      value = memory_ + header_size - room;
    } else {
      room = record_size - header_size;
      value = memory_ + header_size;
    }
    const size_t value_size = record->value_size.load(std::memory_order_acquire);
    if (value_size > room) break;
    ValueInfo& info = values_[std::string(record->name, name_size)];
    info.type = type;
    info.memory = value;
    info.size = &record->value_size;
    info.room = room;
    memory_ += record_size;
    available_ -= record_size;
  }
  if (!OwnerUnchanged()) {
    values_.clear();
    memory_ = nullptr;
    available_ = 0;
    header_ = nullptr;
  }
}

void* ActivityUserData::Set(StringPiece name, uint8_t type, const void* value,
                            size_t size) {
  if (header_ == nullptr || !OwnerUnchanged()) return nullptr;
  if (name.size() > kMaxNameSize) name = name.substr(0, kMaxNameSize);
  const std::string key(name.data(), name.size());
  auto it = values_.find(key);
  if (it == values_.end()) {
    const size_t name_end = kRecordHeaderSize + name.size();
    const size_t header_size = Align8(name_end);
    if (available_ < header_size) return nullptr;
    size_t room;
    size_t record_size;
    char* value_memory;
    if (size == 1 && header_size > name_end) {
      room = 1;
      record_size = header_size;
      value_memory = memory_ + header_size - 1;
    } else {
      // The record size must fit its 16-bit field.
      const size_t limit = std::min(available_, kMaxValueSize) - header_size;
      room = std::min(Align8(std::min(size, kMaxValueSize)),
                      limit & ~static_cast<size_t>(7));
      if (size != 0 && room == 0) return nullptr;
      record_size = header_size + room;
      value_memory = memory_ + header_size;
    }
    auto* record = reinterpret_cast<UserDataRecord*>(memory_);
    record->name_size = static_cast<uint8_t>(name.size());
    record->record_size = static_cast<uint16_t>(record_size);
    record->value_size.store(0, std::memory_order_relaxed);
    memcpy(record->name, name.data(), name.size());
    memory_ += record_size;
    available_ -= record_size;
    record->type.store(type, std::memory_order_release);
    ValueInfo& info = values_[key];
    info.type = type;
    info.memory = value_memory;
    info.size = &record->value_size;
    info.room = room;
    it = values_.find(key);
  }
  ValueInfo& info = it->second;
  const size_t copied = std::min(size, info.room);
  info.size->store(0, std::memory_order_seq_cst);
  if (copied != 0) memcpy(info.memory, value, copied);
  info.size->store(static_cast<uint16_t>(copied), std::memory_order_release);
  return info.memory;
}

}  // namespace debug
}  // namespace kelmbase

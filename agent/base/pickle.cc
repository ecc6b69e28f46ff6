#include "agent/base/pickle.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "logging/check.h"

namespace kelmbase {

namespace {

// The payload grows in steps of this many bytes.
constexpr size_t kPayloadUnit = 64;
// Above this, payloads grow to 64 less than a multiple of it, so that header
// and payload together stay just within whole pages.
constexpr size_t kHeapAlignment = 4096;

constexpr size_t AlignUp(size_t value, size_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

uint32_t ReadPayloadSize(const char* header) {
  uint32_t payload_size;
  memcpy(&payload_size, header, sizeof(payload_size));
  return payload_size;
}

}  // namespace

Pickle::Attachment::Attachment() = default;

Pickle::Attachment::~Attachment() = default;

Pickle::Pickle() : header_size_(sizeof(Header)) {
  Resize(kPayloadUnit);
  Header header = {0};
  memcpy(header_, &header, sizeof(header));
}

Pickle::Pickle(const char* data, size_t length)
    : header_(const_cast<char*>(data)),
      capacity_after_header_(kCapacityReadOnly) {
  if (length >= sizeof(Header)) {
    header_size_ = length - ReadPayloadSize(data);
    // A payload size beyond the length wraps the subtraction around.
    if (header_size_ > static_cast<uint32_t>(length)) header_size_ = 0;
  }
  if (header_size_ != AlignUp(header_size_, sizeof(uint32_t)))
    header_size_ = 0;
  if (header_size_ == 0) header_ = nullptr;
}

Pickle::~Pickle() {
  if (capacity_after_header_ != kCapacityReadOnly) free(header_);
}

size_t Pickle::payload_size() const {
  return header_ == nullptr ? 0 : ReadPayloadSize(header_);
}

size_t Pickle::size() const {
  return header_ == nullptr ? 0 : header_size_ + payload_size();
}

const char* Pickle::payload() const {
  return header_ == nullptr ? nullptr : header_ + header_size_;
}

void Pickle::WriteInt(int32_t value) { WriteBytesCommon(&value, sizeof(value)); }

void Pickle::WriteInt64(int64_t value) {
  WriteBytesCommon(&value, sizeof(value));
}

void Pickle::WriteBytes(const void* data, int length) {
  CHECK_GE(length, 0);
  WriteBytesCommon(data, static_cast<size_t>(length));
}

void Pickle::WriteString(StringPiece value) {
  CHECK_LE(value.size(),
           static_cast<size_t>(std::numeric_limits<int32_t>::max()));
  int32_t length = static_cast<int32_t>(value.size());
  WriteInt(length);
  WriteBytesCommon(value.data(), value.size());
}

void Pickle::WriteBytesCommon(const void* data, size_t length) {
  // A view does not own its bytes: writing would scribble over them.
  CHECK(capacity_after_header_ != kCapacityReadOnly);
  size_t padded_length = AlignUp(length, sizeof(uint32_t));
  size_t new_end = write_offset_ + padded_length;
  if (new_end > capacity_after_header_) {
    size_t candidate = capacity_after_header_ * 2;
    if (candidate > kHeapAlignment)
      candidate = AlignUp(candidate, kHeapAlignment) - kPayloadUnit;
    Resize(std::max(candidate, new_end));
  }

  char* destination = header_ + header_size_ + write_offset_;
  memset(destination + length, 0, padded_length - length);
  if (length > 0) memcpy(destination, data, length);

  uint32_t payload_size = static_cast<uint32_t>(new_end);
  memcpy(header_, &payload_size, sizeof(payload_size));
  write_offset_ = new_end;
}

void Pickle::Resize(size_t new_capacity) {
  CHECK(capacity_after_header_ != kCapacityReadOnly);
  capacity_after_header_ = AlignUp(new_capacity, kPayloadUnit);
  void* p = realloc(header_, header_size_ + capacity_after_header_);
  CHECK(p);
  header_ = static_cast<char*>(p);
}

bool Pickle::AddAttachment(scoped_refptr<Attachment> attachment) {
  // Dropping the only reference deletes the attachment.
  attachment = nullptr;
  return false;
}

bool Pickle::GetAttachment(PickleReader* reader,
                           scoped_refptr<Attachment>* attachment) const {
  return false;
}

bool Pickle::HasAttachments() const { return false; }

PickleReader::PickleReader(const Pickle& pickle)
    : payload_(pickle.payload()), end_index_(pickle.payload_size()) {}

bool PickleReader::ReadFixed(void* result, size_t size) {
  if (Remaining() < size) {
    read_index_ = end_index_;
    return false;
  }
  memcpy(result, payload_ + read_index_, size);
  read_index_ += size;
  return true;
}

bool PickleReader::ReadInt(int32_t* result) {
  return ReadFixed(result, sizeof(*result));
}

bool PickleReader::ReadInt64(int64_t* result) {
  return ReadFixed(result, sizeof(*result));
}

bool PickleReader::ReadString(std::string* result) {
  int32_t length;
  if (!ReadFixed(&length, sizeof(length))) return false;
  if (length < 0 || static_cast<size_t>(length) > Remaining()) {
    read_index_ = end_index_;
    return false;
  }
  result->assign(payload_ + read_index_, static_cast<size_t>(length));
  // The padding of the last field may be missing from a received payload.
  size_t step = AlignUp(static_cast<size_t>(length), sizeof(uint32_t));
  read_index_ = step > Remaining() ? end_index_ : read_index_ + step;
  return true;
}

}  // namespace kelmbase

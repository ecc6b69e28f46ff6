#include "agent/base/metrics/bucket_ranges.h"

#include <array>
#include <cstring>

namespace kelmbase {

namespace {

// The table of the reflected CRC-32 (polynomial 0xEDB88320).
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

BucketRanges::BucketRanges(size_t num_ranges) : ranges_(num_ranges, 0) {}

BucketRanges::~BucketRanges() = default;

// A CRC-32 step over the entries' bytes in memory order, seeded with the
// entry count and without the usual inversions: cheap, and only meant to
// catch damage and to hash equal lists together.
uint32_t BucketRanges::CalculateChecksum() const {
  if (ranges_.empty()) return 0;
  uint32_t crc = static_cast<uint32_t>(ranges_.size());
  for (int32_t entry : ranges_) {
    unsigned char bytes[sizeof(entry)];
    memcpy(bytes, &entry, sizeof(entry));
    for (unsigned char byte : bytes) {
      crc = kCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    }
  }
  return crc;
}

bool BucketRanges::SameAs(const BucketRanges& other) const {
  return checksum_ == other.checksum_ && ranges_ == other.ranges_;
}

}  // namespace kelmbase

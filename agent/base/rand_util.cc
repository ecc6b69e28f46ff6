#include "agent/base/rand_util.h"

#include <cstdint>
#include <limits>

#include "logging/check.h"

namespace kelmbase {

uint64_t RandomUint64() {
  uint64_t value;
  RandomBytes(&value, sizeof(value));
  return value;
}

int RandomInt(int min, int max) {
  // An empty range has no value to return (and its size would be zero or
  // negative below), so it is a caller's error.
  CHECK_LE(min, max);

  // In 64 bits the full int range (2^32 values) still fits.
  const uint64_t range = static_cast<uint64_t>(static_cast<int64_t>(max) -
                                               static_cast<int64_t>(min)) +
                         1;
  // Draws above the last whole multiple of `range` would favour the small
  // residues, so they are drawn again.
  const uint64_t limit =
      std::numeric_limits<uint64_t>::max() / range * range - 1;
  uint64_t value;
  do {
    value = RandomUint64();
  } while (value > limit);
  return static_cast<int>(static_cast<int64_t>(min) +
                          static_cast<int64_t>(value % range));
}

double RandomDouble() {
  // 53 bits fill a double's significand exactly, so every result is a
  // multiple of 2^-53 below 1.
  constexpr uint64_t kMask = (uint64_t{1} << 53) - 1;
  constexpr double kScale = 1.0 / static_cast<double>(uint64_t{1} << 53);
  return static_cast<double>(RandomUint64() & kMask) * kScale;
}

}  // namespace kelmbase

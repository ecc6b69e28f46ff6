#ifndef AGENT_NET_DER_PARSE_VALUES_H_
#define AGENT_NET_DER_PARSE_VALUES_H_

#include <cstddef>
#include <cstdint>

#include "agent/net/der/generalized_time.h"
#include "agent/net/der/input.h"

namespace net::der {

// Parsers of primitive DER values. Each takes an element's value (the bytes
// after tag and length), returns false on any deviation from DER, and then
// leaves its out-parameter unspecified.

// BOOLEAN: exactly one byte, 0x00 for false or 0xFF for true.
[[nodiscard]] bool ParseBool(const Input& in, bool* out);

// Whether `in` is a valid, minimally encoded INTEGER; `*negative` tells its
// sign on success.
[[nodiscard]] bool IsValidInteger(const Input& in, bool* negative);

// A non-negative INTEGER that fits in 64 bits (at most 8 value bytes after
// an optional leading zero byte).
[[nodiscard]] bool ParseUint64(const Input& in, uint64_t* out);

// ParseUint64 of a value below 256.
[[nodiscard]] bool ParseUint8(const Input& in, uint8_t* out);

// The value of a BIT STRING: the bytes after the unused-bits count, and that
// count (0-7). A view into the parsed bytes.
class BitString {
 public:
  BitString() = default;
  BitString(const Input& bytes, uint8_t unused_bits);

  const Input& bytes() const { return bytes_; }
  uint8_t unused_bits() const { return unused_bits_; }

  // Whether bit `i` is set, counting from the most significant bit of the
  // first byte. Bits past the bytes read as unset.
  bool IsBitSet(size_t i) const;

 private:
  Input bytes_;
  uint8_t unused_bits_ = 0;
};

// BIT STRING: an unused-bits count of at most 7, then the bytes; with a
// non-zero count there must be bytes, and their unused low bits must be zero.
[[nodiscard]] bool ParseBitString(const Input& in, BitString* out);

// UTCTime as exactly YYMMDDHHMMSSZ. Years below 50 are 20YY, the others 19YY.
[[nodiscard]] bool ParseUTCTime(const Input& in, GeneralizedTime* out);

// GeneralizedTime as exactly YYYYMMDDHHMMSSZ: no fractions, no offsets.
[[nodiscard]] bool ParseGeneralizedTime(const Input& in, GeneralizedTime* out);

}  // namespace net::der

#endif  // AGENT_NET_DER_PARSE_VALUES_H_

#include "agent/net/der/parse_values.h"

#include <openssl/bytestring.h>

#include "logging/check.h"

namespace net::der {

namespace {

// Reads `count` decimal digits as a number. Anything but '0'-'9' fails,
// signs and spaces included.
bool ReadDigits(ByteReader* reader, size_t count, unsigned* out) {
  unsigned value = 0;
  for (size_t i = 0; i < count; ++i) {
    uint8_t c;
    if (!reader->ReadByte(&c) || c < '0' || c > '9')
      return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  *out = value;
  return true;
}

// Reads MMDDHHMMSSZ, the part after the year that both time forms share,
// and requires the end of input after the Z.
bool ReadMonthToZ(ByteReader* reader, GeneralizedTime* out) {
  unsigned month, day, hours, minutes, seconds;
  if (!ReadDigits(reader, 2, &month) || !ReadDigits(reader, 2, &day) ||
      !ReadDigits(reader, 2, &hours) || !ReadDigits(reader, 2, &minutes) ||
      !ReadDigits(reader, 2, &seconds)) {
    return false;
  }
  uint8_t zulu;
  if (!reader->ReadByte(&zulu) || zulu != 'Z' || reader->HasMore())
    return false;
  out->month = static_cast<uint8_t>(month);
  out->day = static_cast<uint8_t>(day);
  out->hours = static_cast<uint8_t>(hours);
  out->minutes = static_cast<uint8_t>(minutes);
  out->seconds = static_cast<uint8_t>(seconds);
  return out->InRange();
}

}  // namespace

bool ParseBool(const Input& in, bool* out) {
  if (in.length() != 1)
    return false;
  if (in.data()[0] == 0x00) {
    *out = false;
    return true;
  }
  if (in.data()[0] == 0xFF) {
    *out = true;
    return true;
  }
  return false;
}

bool IsValidInteger(const Input& in, bool* negative) {
  CBS cbs;
  CBS_init(&cbs, in.data(), in.length());
  int is_negative = 0;
  if (!CBS_is_valid_asn1_integer(&cbs, &is_negative))
    return false;
  *negative = is_negative != 0;
  return true;
}

bool ParseUint64(const Input& in, uint64_t* out) {
  bool negative;
  if (!IsValidInteger(in, &negative) || negative)
    return false;
  size_t value_bytes = in.length();
  // A minimal encoding has a leading zero only to keep the value positive.
  if (value_bytes > 1 && in.data()[0] == 0x00)
    --value_bytes;
  if (value_bytes > sizeof(uint64_t))
    return false;
  uint64_t value = 0;
  for (size_t i = 0; i < in.length(); ++i)
    value = (value << 8) | in.data()[i];
  *out = value;
  return true;
}

bool ParseUint8(const Input& in, uint8_t* out) {
  uint64_t value;
  if (!ParseUint64(in, &value) || value > 0xFF)
    return false;
  *out = static_cast<uint8_t>(value);
  return true;
}

BitString::BitString(const Input& bytes, uint8_t unused_bits)
    : bytes_(bytes), unused_bits_(unused_bits) {
  CHECK(unused_bits < 8);
  CHECK(unused_bits == 0 || !bytes.empty());
}

bool BitString::IsBitSet(size_t i) const {
  const size_t byte_index = i / 8;
  if (byte_index >= bytes_.length())
    return false;
  const uint8_t mask = static_cast<uint8_t>(0x80u >> (i % 8));
  return (bytes_.data()[byte_index] & mask) != 0;
}

bool ParseBitString(const Input& in, BitString* out) {
  ByteReader reader(in);
  uint8_t unused_bits;
  if (!reader.ReadByte(&unused_bits) || unused_bits > 7)
    return false;
  Input bytes;
  CHECK(reader.ReadBytes(in.length() - 1, &bytes));
  if (unused_bits > 0) {
    if (bytes.empty())
      return false;
    const uint8_t last = bytes.data()[bytes.length() - 1];
    const uint8_t unused_mask = static_cast<uint8_t>((1u << unused_bits) - 1);
    if ((last & unused_mask) != 0)
      return false;
  }
  *out = BitString(bytes, unused_bits);
  return true;
}

bool ParseUTCTime(const Input& in, GeneralizedTime* out) {
  ByteReader reader(in);
  unsigned year;
  if (!ReadDigits(&reader, 2, &year))
    return false;
  out->year = static_cast<uint16_t>(year < 50 ? 2000 + year : 1900 + year);
  return ReadMonthToZ(&reader, out);
}

bool ParseGeneralizedTime(const Input& in, GeneralizedTime* out) {
  ByteReader reader(in);
  unsigned year;
  if (!ReadDigits(&reader, 4, &year))
    return false;
  out->year = static_cast<uint16_t>(year);
  return ReadMonthToZ(&reader, out);
}

}  // namespace net::der

#ifndef AGENT_BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_
#define AGENT_BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_

// Numbers as text and hexadecimal encoding. Locale-independent.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "agent/base/containers/span.h"
#include "agent/base/strings/string_piece.h"

namespace double_conversion {
class DoubleToStringConverter;
}  // namespace double_conversion

namespace kelmbase {

// Decimal digits with a leading "-" for negative values; the most negative
// value of each type prints correctly.
std::string NumberToString(int value);
std::string NumberToString(unsigned int value);
std::string NumberToString(int64_t value);
std::string NumberToString(uint64_t value);

// The shortest text that reads back as the same double: decimal notation for
// decimal exponents in [-6, 12), exponential otherwise ("1e+21", "1e-7");
// integral values have no decimal point ("3"). Empty for infinities and NaN.
std::string NumberToString(double value);

// The shared converter behind NumberToString(double), made once (thread-safe)
// and never destroyed.
const double_conversion::DoubleToStringConverter& GetDoubleToStringConverter();

// Two upper-case hexadecimal digits per byte, no separators.
std::string HexEncode(const void* bytes, size_t size);
std::string HexEncode(span<const uint8_t> bytes);

// Decodes pairs of hexadecimal digits (high digit first, either case) and
// appends the bytes to `output`, which is never cleared. False at once for
// empty or odd-length input; a pair with a non-hex digit stops decoding and
// gives false, leaving the bytes decoded before it appended.
bool HexStringToBytes(StringPiece input, std::vector<uint8_t>* output);

// The value 0-15 of '0'-'9', 'a'-'f' or 'A'-'F' in `*value`; false (and
// `*value` untouched) for any other character.
bool HexDigitValue(char c, uint8_t* value);

}  // namespace kelmbase

#endif  // AGENT_BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_

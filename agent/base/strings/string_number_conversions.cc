#include "agent/base/strings/string_number_conversions.h"

#include <double-conversion/double-conversion.h>

#include <cmath>
#include <limits>
#include <type_traits>

namespace kelmbase {
namespace {

template <typename Int>
std::string IntToString(Int value) {
  using Unsigned = std::make_unsigned_t<Int>;
  // Digits of the largest magnitude plus a sign.
  char buffer[std::numeric_limits<Unsigned>::digits10 + 2];
  char* const end = buffer + sizeof(buffer);
  char* p = end;
  const bool negative = value < 0;
  // Negating in the unsigned type keeps the most negative value exact.
  Unsigned magnitude = static_cast<Unsigned>(value);
  if (negative) magnitude = static_cast<Unsigned>(0) - magnitude;
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--p = '-';
  return std::string(p, end);
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

std::string NumberToString(int value) { return IntToString(value); }
std::string NumberToString(unsigned int value) { return IntToString(value); }
std::string NumberToString(int64_t value) { return IntToString(value); }
std::string NumberToString(uint64_t value) { return IntToString(value); }

const double_conversion::DoubleToStringConverter&
GetDoubleToStringConverter() {
  // Decimal notation for 10^-6 <= |value| < 10^12; no text for infinities
  // and NaN, so that conversion fails for them.
  static const double_conversion::DoubleToStringConverter* const converter =
      new double_conversion::DoubleToStringConverter(
          double_conversion::DoubleToStringConverter::
              EMIT_POSITIVE_EXPONENT_SIGN,
          /*infinity_symbol=*/nullptr, /*nan_symbol=*/nullptr,
          /*exponent_character=*/'e', /*decimal_in_shortest_low=*/-6,
          /*decimal_in_shortest_high=*/12,
          /*max_leading_padding_zeroes_in_precision_mode=*/0,
          /*max_trailing_padding_zeroes_in_precision_mode=*/0);
  return *converter;
}

std::string NumberToString(double value) {
  // Integral values in the decimal-notation range print as their integer
  // digits, exactly as the converter would print them; integer formatting is
  // several times faster. -0 (sign kept) and NaN go to the converter.
  if (value > -1e12 && value < 1e12) {
    const int64_t integral = static_cast<int64_t>(value);
    if (static_cast<double>(integral) == value &&
        (integral != 0 || !std::signbit(value))) {
      return IntToString(integral);
    }
  }
  char buffer[32];
  double_conversion::StringBuilder builder(buffer, sizeof(buffer));
  if (!GetDoubleToStringConverter().ToShortest(value, &builder)) return {};
  const int length = builder.position();
  return std::string(buffer, static_cast<size_t>(length));
}

std::string HexEncode(const void* bytes, size_t size) {
  const uint8_t* in = static_cast<const uint8_t*>(bytes);
  std::string result(size * 2, '\0');
  for (size_t i = 0; i < size; ++i) {
    result[2 * i] = kHexDigits[in[i] >> 4];
    result[2 * i + 1] = kHexDigits[in[i] & 0xF];
  }
  return result;
}

std::string HexEncode(span<const uint8_t> bytes) {
  return HexEncode(bytes.data(), bytes.size());
}

bool HexDigitValue(char c, uint8_t* value) {
  if (c >= '0' && c <= '9') {
    *value = static_cast<uint8_t>(c - '0');
  } else if (c >= 'a' && c <= 'f') {
    *value = static_cast<uint8_t>(c - 'a' + 10);
  } else if (c >= 'A' && c <= 'F') {
    *value = static_cast<uint8_t>(c - 'A' + 10);
  } else {
    return false;
  }
  return true;
}

bool HexStringToBytes(StringPiece input, std::vector<uint8_t>* output) {
  if (input.empty() || input.size() % 2 != 0) return false;
  for (size_t i = 0; i < input.size(); i += 2) {
    uint8_t high;
    uint8_t low;
    if (!HexDigitValue(input.data()[i], &high) ||
        !HexDigitValue(input.data()[i + 1], &low)) {
      return false;
    }
    output->push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

}  // namespace kelmbase

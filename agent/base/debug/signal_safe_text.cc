#include "agent/base/debug/signal_safe_text.h"

#include <cstring>

#include "absl/base/internal/raw_logging.h"

namespace kelmbase {
namespace debug {

char* FormatInteger(uint64_t value, char* buffer, size_t size, int base,
                    size_t minimum_digits) {
  if (size == 0) return nullptr;
  buffer[0] = '\0';
  if (base < 2 || base > 16) return nullptr;

  char* digits = buffer;
  size_t room = size;
  uint64_t magnitude = value;
  if (base == 10 && (value >> 63) != 0) {
    if (size < 2) return nullptr;
    *digits++ = '-';
    --room;
    // Negated in unsigned arithmetic: the most negative value has no
    // positive counterpart in the signed type.
    magnitude = 0 - value;
  }

  static const char kDigits[] = "0123456789abcdef";
  const uint64_t divisor = static_cast<uint64_t>(base);
  size_t count = 0;
  do {
    // Room for this digit and the NUL.
    if (count + 1 >= room) {
      buffer[0] = '\0';
      return nullptr;
    }
    digits[count++] = kDigits[magnitude % divisor];
    magnitude /= divisor;
  } while (magnitude != 0 || count < minimum_digits);

  for (size_t i = 0, j = count - 1; i < j; ++i, --j) {
    const char c = digits[i];
    digits[i] = digits[j];
    digits[j] = c;
  }
  digits[count] = '\0';
  return buffer;
}

void AppendCString(char* dest, size_t dest_size, const char* source) {
  const size_t length = strnlen(dest, dest_size);
  ABSL_RAW_CHECK(length < dest_size, "appending to a full buffer");
  const size_t room = dest_size - length - 1;
  const size_t count = strnlen(source, room);
  memcpy(dest + length, source, count);
  dest[length + count] = '\0';
}

}  // namespace debug
}  // namespace kelmbase

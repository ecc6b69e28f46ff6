#ifndef AGENT_BASE_DEBUG_SIGNAL_SAFE_TEXT_H_
#define AGENT_BASE_DEBUG_SIGNAL_SAFE_TEXT_H_

#include <cstddef>
#include <cstdint>

namespace kelmbase {
namespace debug {

// Text helpers for code that may run in a signal handler: they work in the
// caller's buffer only, allocate nothing and take no lock.

// Writes `value` in `base` (2 to 16, digits "0123456789abcdef") into
// `buffer` (`size` bytes, NUL included), with at least `minimum_digits`
// digits (zero-filled on the left). In base 10 the value reads as a
// two's-complement signed number: a negative one gets a leading "-" and its
// magnitude, also for the most negative value. Returns `buffer`, or null
// when `size` is 0, the base is out of range or the text and its NUL do not
// fit; `buffer` then holds an empty string (when `size` > 0).
char* FormatInteger(uint64_t value, char* buffer, size_t size, int base,
                    size_t minimum_digits);

// Appends `source` to the NUL-terminated text in `dest` (`dest_size`
// bytes), truncating it to fit; the result is always NUL-terminated. A
// `dest` with no NUL within its size is a fatal error.
void AppendCString(char* dest, size_t dest_size, const char* source);

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_SIGNAL_SAFE_TEXT_H_

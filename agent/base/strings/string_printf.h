#ifndef AGENT_BASE_STRINGS_STRING_PRINTF_H_
#define AGENT_BASE_STRINGS_STRING_PRINTF_H_

// printf-style formatting into std::string.

#include <cstdarg>
#include <string>

namespace kelmbase {

// The formatted text as a new string.
std::string FormatString(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// Appends the formatted text to `dst`.
void AppendFormat(std::string* dst, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Appends the formatted text to `dst`. Short results are formatted on the
// stack; longer ones in a heap buffer that grows as needed up to 32 MiB. A
// result that would be larger, or a formatting error (an encoding error, for
// example), appends nothing and reports nothing. The caller's errno is kept.
void AppendFormatV(std::string* dst, const char* format, va_list ap)
    __attribute__((format(printf, 2, 0)));

}  // namespace kelmbase

#endif  // AGENT_BASE_STRINGS_STRING_PRINTF_H_

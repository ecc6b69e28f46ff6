#include "agent/base/strings/string_printf.h"

#include <cerrno>
#include <cstdio>
#include <memory>

namespace kelmbase {
namespace {

constexpr size_t kStackBufferSize = 1024;
// Beyond this the text is almost certainly a mistake; refuse it.
constexpr size_t kMaxBufferSize = 32 * 1024 * 1024;

// Restores the caller's errno on every way out.
class ScopedErrnoKeeper {
 public:
  ScopedErrnoKeeper() : saved_(errno) {}
  ~ScopedErrnoKeeper() { errno = saved_; }

 private:
  int saved_;
};

__attribute__((format(printf, 3, 0))) int FormatInto(char* buffer,
                                                      size_t size,
                                                      const char* format,
                                                      va_list ap) {
  // Each attempt consumes its own copy of the arguments.
  va_list copy;
  va_copy(copy, ap);
  int result = vsnprintf(buffer, size, format, copy);
  va_end(copy);
  return result;
}

}  // namespace

void AppendFormatV(std::string* dst, const char* format, va_list ap) {
  ScopedErrnoKeeper errno_keeper;
  errno = 0;

  char stack_buffer[kStackBufferSize];
  int result = FormatInto(stack_buffer, sizeof(stack_buffer), format, ap);
  if (result >= 0 && static_cast<size_t>(result) < sizeof(stack_buffer)) {
    dst->append(stack_buffer, static_cast<size_t>(result));
    return;
  }

  size_t size = kStackBufferSize;
  for (;;) {
    if (result < 0) {
      // Only a result that did not fit is worth a bigger buffer.
      if (errno != 0 && errno != EOVERFLOW) return;
      size *= 2;
    } else {
      size = static_cast<size_t>(result) + 1;
    }
    if (size > kMaxBufferSize) return;

    std::unique_ptr<char[]> heap_buffer(new char[size]());
    result = FormatInto(heap_buffer.get(), size, format, ap);
    if (result >= 0 && static_cast<size_t>(result) < size) {
      dst->append(heap_buffer.get(), static_cast<size_t>(result));
      return;
    }
  }
}

std::string FormatString(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string result;
  AppendFormatV(&result, format, ap);
  va_end(ap);
  return result;
}

void AppendFormat(std::string* dst, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  AppendFormatV(dst, format, ap);
  va_end(ap);
}

}  // namespace kelmbase

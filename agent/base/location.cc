#include "agent/base/location.h"

#include <cstring>

#include <cstdio>

namespace kelmbase {
namespace {

constexpr char kSourcePrefix[] = "third_party/ambrel/agent/";

}  // namespace

namespace internal {

// Processors that sign return addresses keep the signature in the upper
// bits; xpaclri (a no-op hint elsewhere) clears it.
const void* StripPointerAuthentication(const void* address) {
#if defined(__aarch64__)
  register const void* x30 __asm__("x30") = address;
  __asm__("hint #7" : "+r"(x30));
  return x30;
#else
  return address;
#endif
}

}  // namespace internal

Location::Location(const char* function_name, const char* file_name,
                   int line_number, const void* program_counter)
    : function_name_(function_name),
      file_name_(file_name),
      line_number_(line_number),
      program_counter_(program_counter) {}

__attribute__((noinline)) Location Location::Capture(const char* function_name,
                                                     const char* file_name,
                                                     int line_number) {
  const void* pc = internal::StripPointerAuthentication(__builtin_return_address(0));
  // Only a path that really carries the prefix is shortened; anything else is
  // kept whole rather than cut at an arbitrary offset.
  if (file_name != nullptr &&
      strncmp(file_name, kSourcePrefix, sizeof(kSourcePrefix) - 1) == 0) {
    file_name += sizeof(kSourcePrefix) - 1;
  }
  return Location(function_name, file_name, line_number, pc);
}

std::string Location::ToString() const {
  if (function_name_ != nullptr && file_name_ != nullptr) {
    return std::string(function_name_) + "@" + file_name_ + ":" +
           std::to_string(line_number_);
  }
  char text[32];
  snprintf(text, sizeof(text), "pc:%p", program_counter_);
  return text;
}

}  // namespace kelmbase

// Feeds arbitrary bytes to the demangler, which may meet any text in a
// symbol table, with output buffers of every size up to the crash printer's.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "agent/base/debug/demangle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  char out[256];
  // The first byte also picks a buffer size, so that short buffers are
  // exercised as often as the full one.
  const size_t out_size = size == 0 ? sizeof(out) : data[0] % (sizeof(out) + 1);
  if (kelmbase::debug::Demangle(name.c_str(), out, out_size)) {
    if (strnlen(out, out_size) >= out_size) __builtin_trap();
  }
  if (kelmbase::debug::Demangle(name.c_str(), out, sizeof(out))) {
    if (strnlen(out, sizeof(out)) >= sizeof(out)) __builtin_trap();
  }
  std::string text = name.c_str();
  text.resize(text.size() + 1);
  kelmbase::debug::DemangleInPlace(text.data(), static_cast<int>(text.size()));
  if (strnlen(text.data(), text.size()) >= text.size()) __builtin_trap();
  return 0;
}

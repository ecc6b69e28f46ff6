// Attaches a user-data store to a block of arbitrary bytes, as a reader does
// with a block that another process wrote, then writes to it.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "agent/base/debug/activity_user_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The block is exactly as large as the input, so reading past it trips the
  // address sanitizer. new[] gives the 8-byte alignment blocks have.
  std::unique_ptr<char[]> block(new char[size]);
  if (size != 0) memcpy(block.get(), data, size);
  kelmbase::debug::ActivityUserData store(block.get(), size, 1);
  size_t total = 0;
  for (const auto& [name, info] : store.values()) {
    const size_t value_size = info.size->load(std::memory_order_relaxed);
    if (value_size > info.room) __builtin_trap();
    for (size_t i = 0; i < value_size; ++i) total += info.memory[i];
  }
  // Writes reuse imported records and append new ones after them.
  const char value[] = "0123456789abcdef0123456789";
  for (const auto& [name, info] : store.values()) {
    store.Set(name, info.type, value, sizeof(value) % (info.room + 1));
    break;
  }
  store.Set("fuzz", 9, value, total % sizeof(value));
  store.Set("b", 1, value, 1);
  return 0;
}

#ifndef AGENT_BASE_HASH_H_
#define AGENT_BASE_HASH_H_

#include <cstddef>
#include <cstdint>

#include "agent/base/third_party/cityhash/city.h"

namespace kelmbase {

// A fast 64-bit hash of `length` bytes at `data`: CityHash64 version 1.1
// (`kelmbase::CityHash64`), so the value is the same in every process and on
// every platform. Not a cryptographic hash. `data` may be null when `length`
// is 0.
uint64_t HashBytes64(const void* data, size_t length);

}  // namespace kelmbase

#endif  // AGENT_BASE_HASH_H_

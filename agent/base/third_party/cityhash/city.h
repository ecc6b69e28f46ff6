#ifndef AGENT_BASE_THIRD_PARTY_CITYHASH_CITY_H_
#define AGENT_BASE_THIRD_PARTY_CITYHASH_CITY_H_

#include <cstddef>
#include <cstdint>

namespace kelmbase {

// CityHash64, version 1.1: a fast, non-cryptographic 64-bit hash of a byte
// string. The results are those of the published v1.1 function on every
// platform (the input is read as little-endian words regardless of the host),
// so values may be persisted or compared across processes. Not suitable
// where an adversary chooses the input and collisions matter.
uint64_t CityHash64(const char* data, size_t length);

}  // namespace kelmbase

#endif  // AGENT_BASE_THIRD_PARTY_CITYHASH_CITY_H_

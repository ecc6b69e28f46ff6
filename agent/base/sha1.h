#ifndef AGENT_BASE_SHA1_H_
#define AGENT_BASE_SHA1_H_

#include <cstddef>
#include <cstdint>

namespace kelmbase {

// Size of a SHA-1 digest in bytes.
inline constexpr size_t kSha1Length = 20;

// Writes the SHA-1 digest of `length` bytes at `data` into the 20 bytes at
// `out`. Safe to call before anything else has set up the crypto library.
// `data` may be null when `length` is 0.
void Sha1Hash(const void* data, size_t length, uint8_t* out);

}  // namespace kelmbase

#endif  // AGENT_BASE_SHA1_H_

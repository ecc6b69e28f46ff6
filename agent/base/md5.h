#ifndef AGENT_BASE_MD5_H_
#define AGENT_BASE_MD5_H_

#include <cstddef>
#include <cstdint>

namespace kelmbase {

// Size of an MD5 digest in bytes.
inline constexpr size_t kMd5Length = 16;

// Writes the MD5 digest of `length` bytes at `data` into the 16 bytes at
// `out`. Used for stable names (metric name hashes), not for security.
// `data` may be null when `length` is 0.
void Md5Sum(const void* data, size_t length, uint8_t* out);

}  // namespace kelmbase

#endif  // AGENT_BASE_MD5_H_

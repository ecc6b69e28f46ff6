#ifndef AGENT_BASE_METRICS_METRICS_HASHES_H_
#define AGENT_BASE_METRICS_METRICS_HASHES_H_

#include <cstdint>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {

// The first 8 bytes of the MD5 digest of the name's bytes, read as a
// big-endian number: a histogram's id, the same in every process.
uint64_t MetricNameHash64(StringPiece name);

// The first 4 bytes of the same digest, big-endian: the upper half of
// MetricNameHash64.
uint32_t MetricNameHash32(StringPiece name);

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_METRICS_HASHES_H_

#include "agent/base/metrics/metrics_hashes.h"

#include "agent/base/md5.h"

namespace kelmbase {

uint64_t MetricNameHash64(StringPiece name) {
  uint8_t digest[kMd5Length];
  Md5Sum(name.data(), name.size(), digest);
  uint64_t hash = 0;
  for (int i = 0; i < 8; ++i) hash = (hash << 8) | digest[i];
  return hash;
}

uint32_t MetricNameHash32(StringPiece name) {
  return static_cast<uint32_t>(MetricNameHash64(name) >> 32);
}

}  // namespace kelmbase

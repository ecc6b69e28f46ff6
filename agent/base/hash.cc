#include "agent/base/hash.h"

namespace kelmbase {

uint64_t HashBytes64(const void* data, size_t length) {
  return CityHash64(static_cast<const char*>(data), length);
}

}  // namespace kelmbase

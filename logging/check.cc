#include "logging/check.h"

#include <cerrno>
#include <cstring>

namespace kelm_log {
namespace internal {

std::string ErrnoSuffix() {
  int err = errno;
  return std::string(": ") + strerror(err) + " [" + std::to_string(err) + "]";
}

}  // namespace internal
}  // namespace kelm_log

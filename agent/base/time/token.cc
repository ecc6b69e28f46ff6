#include "agent/base/time/token.h"

#include <cinttypes>
#include <cstdio>

namespace kelmbase {

std::string Token::ToString() const {
  char buffer[33];
  snprintf(buffer, sizeof(buffer), "%016" PRIX64 "%016" PRIX64, high_, low_);
  return std::string(buffer, 32);
}

}  // namespace kelmbase

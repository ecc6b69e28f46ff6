#include <cstdint>

#include "absl/flags/flag.h"

ABSL_FLAG(int32_t, nsscache_timeout, 2,
          "seconds to wait for the name-service cache");

#include <cstdint>

#include "absl/flags/flag.h"

ABSL_FLAG(int32_t, coredump_timeout, 300,
          "seconds a core dump may take before the process is killed");

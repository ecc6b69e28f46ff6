#include <cstdint>

#include "absl/flags/flag.h"

ABSL_FLAG(int32_t, virtual_memory_limit_mb, 0,
          "limit on the process's virtual memory in MiB; 0 for none");

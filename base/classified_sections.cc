#include "absl/flags/flag.h"

ABSL_FLAG(bool, lock_buildid, true,
          "lock the pages holding the build id in memory");

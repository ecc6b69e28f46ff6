#include <string>

#include "absl/flags/flag.h"

ABSL_FLAG(std::string, chroot, "",
          "directory to change root to during start-up; empty for none");
ABSL_FLAG(bool, silent_init, false,
          "write no records about start-up itself");

#include <string>

#include "absl/flags/flag.h"

ABSL_FLAG(bool, install_signal_handlers, true,
          "install the failure signal handlers at start-up");
ABSL_FLAG(std::string, install_named_signal_handlers,
          "failure,profiling,stackdump",
          "comma-separated groups of signal handlers to install");
ABSL_FLAG(bool, use_alternate_stack_for_signal_handlers, true,
          "run signal handlers on an alternate stack");
ABSL_FLAG(bool, alarm_on_failure, true,
          "arm an alarm so that a hanging failure handler still ends the "
          "process");

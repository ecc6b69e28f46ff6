#include <string>

#include "absl/flags/flag.h"

ABSL_FLAG(std::string, mlock_style, "",
          "how the program locks its pages in memory; empty locks nothing");

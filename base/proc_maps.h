#ifndef BASE_PROC_MAPS_H_
#define BASE_PROC_MAPS_H_

#include <string>

#include "absl/flags/declare.h"

// Prefix put before "/proc" when the process reads its own maps, for
// processes that see the proc file system elsewhere.
ABSL_DECLARE_FLAG(std::string, procfs_prefix);

namespace base {

// The --procfs_prefix update hook: an empty value empties the stored prefix,
// any other replaces it. Any thread.
void OnProcfsPrefixUpdate();

// The stored prefix ("" when none was ever set). Any thread.
std::string ProcfsPrefix();

}  // namespace base

#endif  // BASE_PROC_MAPS_H_

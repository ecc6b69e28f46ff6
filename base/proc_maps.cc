#include "base/proc_maps.h"

#include "absl/base/const_init.h"
#include "absl/base/internal/spinlock.h"
#include "absl/flags/flag.h"

ABSL_FLAG(std::string, procfs_prefix, "",
          "directory under which the proc file system is mounted, if not /")
    .OnUpdate(base::OnProcfsPrefixUpdate);

namespace base {
namespace {

ABSL_CONST_INIT absl::base_internal::SpinLock g_prefix_lock(
    absl::kConstInit, absl::base_internal::SCHEDULE_KERNEL_ONLY);
// Made on the first non-empty value and kept for the life of the process.
std::string* g_prefix = nullptr;

}  // namespace

void OnProcfsPrefixUpdate() {
  const std::string value = absl::GetFlag(FLAGS_procfs_prefix);
  absl::base_internal::SpinLockHolder hold(&g_prefix_lock);
  if (value.empty()) {
    if (g_prefix != nullptr) g_prefix->clear();
    return;
  }
  if (g_prefix == nullptr) {
    g_prefix = new std::string(value);
  } else {
    *g_prefix = value;
  }
}

std::string ProcfsPrefix() {
  absl::base_internal::SpinLockHolder hold(&g_prefix_lock);
  return g_prefix != nullptr ? *g_prefix : std::string();
}

}  // namespace base

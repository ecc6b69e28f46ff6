#include "agent/base/system/sys_info.h"

#include <sched.h>
#include <unistd.h>

#include "agent/base/memory/lazy_singleton.h"

namespace kelmbase {
namespace {

int ComputeProcessorCount() {
  const long configured = sysconf(_SC_NPROCESSORS_CONF);
  if (configured <= 0) return 1;
  int count = static_cast<int>(configured);

  cpu_set_t* set = CPU_ALLOC(count);
  if (set == nullptr) return count;
  const size_t set_size = CPU_ALLOC_SIZE(count);
  CPU_ZERO_S(set_size, set);
  if (sched_getaffinity(0, set_size, set) == 0) {
    const int usable = CPU_COUNT_S(set_size, set);
    if (usable > 0) count = usable;
  }
  CPU_FREE(set);
  return count;
}

class ProcessorCount {
 public:
  ProcessorCount() : value_(ComputeProcessorCount()) {}
  int value() const { return value_; }

 private:
  const int value_;
};

// Leaky: the count is read until the very end of the process.
LazySingleton<ProcessorCount> g_processor_count;

}  // namespace

int GetProcessorCount() { return g_processor_count.Pointer()->value(); }

}  // namespace kelmbase

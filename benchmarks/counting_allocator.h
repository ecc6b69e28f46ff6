#ifndef BENCHMARKS_COUNTING_ALLOCATOR_H_
#define BENCHMARKS_COUNTING_ALLOCATOR_H_

#include <cstdint>

namespace kelm_bench {

// The number of heap allocations made through operator new (every form) by
// the whole benchmark program so far. The program's operator new is
// replaced to count; it still allocates with malloc.
uint64_t HeapAllocationCount();

}  // namespace kelm_bench

#endif  // BENCHMARKS_COUNTING_ALLOCATOR_H_

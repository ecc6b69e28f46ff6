// Replaces the program's operator new and delete with counting versions
// over malloc and free.

#include "benchmarks/counting_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace kelm_bench {
namespace {

std::atomic<uint64_t> g_allocations{0};

void* Allocate(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  void* p = std::malloc(size ? size : 1);
  if (!p) std::abort();
  return p;
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  const std::size_t align = static_cast<std::size_t>(alignment);
  void* p = std::aligned_alloc(align, (size + align - 1) / align * align);
  if (!p) std::abort();
  return p;
}

}  // namespace

uint64_t HeapAllocationCount() {
  return g_allocations.load(std::memory_order_relaxed);
}

}  // namespace kelm_bench

void* operator new(std::size_t size) { return kelm_bench::Allocate(size); }
void* operator new[](std::size_t size) { return kelm_bench::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return kelm_bench::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return kelm_bench::Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return kelm_bench::AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return kelm_bench::AllocateAligned(size, alignment);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}

#include "agent/base/debug/keep_value_alive.h"

namespace kelmbase {
namespace debug {

__attribute__((noinline)) void KeepValueAlive(const void* address) {
  // An empty asm with the pointer as input keeps the call from being
  // optimised into nothing.
  asm volatile("" : : "r"(address) : "memory");
}

}  // namespace debug
}  // namespace kelmbase

#include "agent/base/debug/crash_logging.h"

#include <atomic>

namespace kelmbase {
namespace debug {
namespace {

std::atomic<CrashKeyImplementation*> g_implementation{nullptr};

}  // namespace

std::unique_ptr<CrashKeyImplementation> SetCrashKeyImplementation(
    std::unique_ptr<CrashKeyImplementation> implementation) {
  return std::unique_ptr<CrashKeyImplementation>(g_implementation.exchange(
      implementation.release(), std::memory_order_acq_rel));
}

CrashKeyString* AllocateCrashKey(const char* name, size_t value_size) {
  CrashKeyImplementation* implementation =
      g_implementation.load(std::memory_order_acquire);
  if (implementation == nullptr) return nullptr;
  return implementation->Allocate(name, value_size);
}

void SetCrashKeyValue(CrashKeyString* key, StringPiece value) {
  CrashKeyImplementation* implementation =
      g_implementation.load(std::memory_order_acquire);
  if (implementation == nullptr || key == nullptr) return;
  implementation->Set(key, value);
}

}  // namespace debug
}  // namespace kelmbase

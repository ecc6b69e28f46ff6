#include "internal/certificate/device_policy.h"

#include <atomic>

namespace vantorel {

namespace {

// No switch or setting of this program sets it.
std::atomic<bool> g_pii_logging_enabled{false};

}  // namespace

bool IsAudioOnlyDevice() { return true; }

bool IsPiiLoggingEnabled() {
  return g_pii_logging_enabled.load(std::memory_order_relaxed);
}

}  // namespace vantorel

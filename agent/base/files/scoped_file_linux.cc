#include "agent/base/files/scoped_file.h"

#include <atomic>

#include "absl/base/internal/raw_logging.h"
#include "agent/base/debug/stack_trace.h"

namespace kelmbase {

namespace {

// Which descriptors a ScopedFD holds, for descriptor numbers below
// kMaxTrackedFds. Zero-initialised before any code runs, so it is usable
// from static initialisers and by every thread without set-up.
struct FdOwnershipTable {
  static constexpr int kMaxTrackedFds = 4096;

  std::atomic<bool> owned[kMaxTrackedFds];
  std::atomic<bool> enforce;
};

constinit FdOwnershipTable g_fd_ownership_table;

bool IsTracked(int fd) {
  return fd >= 0 && fd < FdOwnershipTable::kMaxTrackedFds;
}

bool IsEnforced() {
  return g_fd_ownership_table.enforce.load(std::memory_order_acquire);
}

}  // namespace

namespace internal {

void ScopedFDCloseTraits::Acquire(int fd) { UpdateFdOwnership(fd, true); }

void ScopedFDCloseTraits::Release(int fd) { UpdateFdOwnership(fd, false); }

}  // namespace internal

void CrashOnFdOwnershipViolation() {
  ABSL_RAW_LOG(ERROR, "Crashing due to FD ownership violation:\n");
  debug::StackTrace().Print();
  __builtin_trap();
}

void UpdateFdOwnership(int fd, bool owned) {
  if (!IsTracked(fd)) {
    return;
  }
  // Taking a descriptor that is already held, or giving up one that is not,
  // means two parties believe they own it.
  const bool was_owned = g_fd_ownership_table.owned[fd].exchange(
      owned, std::memory_order_acq_rel);
  if (was_owned == owned && IsEnforced()) {
    CrashOnFdOwnershipViolation();
  }
}

void EnableFdOwnershipEnforcement(bool enabled) {
  g_fd_ownership_table.enforce.store(enabled, std::memory_order_release);
}

}  // namespace kelmbase

// The system library's own entry point behind `close`.
extern "C" int __close(int fd);

// Every close in the process comes here, so that one closing a descriptor
// behind its owner's back is caught where it happens rather than when the
// number, reused by then, is closed a second time.
extern "C" __attribute__((visibility("default"))) int close(int fd) {
  if (kelmbase::IsTracked(fd) &&
      kelmbase::g_fd_ownership_table.owned[fd].load(
          std::memory_order_acquire) &&
      kelmbase::IsEnforced()) {
    kelmbase::CrashOnFdOwnershipViolation();
  }
  return __close(fd);
}

#ifndef AGENT_BASE_FILES_SCOPED_FILE_H_
#define AGENT_BASE_FILES_SCOPED_FILE_H_

#include "agent/base/scoped_generic.h"

namespace kelmbase {

namespace internal {

// How a ScopedFD takes, gives up and frees a descriptor.
struct ScopedFDCloseTraits {
  static int InvalidValue() { return -1; }

  // Closes `fd` through the process's close. EINTR counts as closed (the
  // descriptor is gone on Linux either way). EBADF is fatal: the descriptor
  // was not open, so someone else closed it behind its owner's back.
  static void Free(int fd);

  // Record that a ScopedFD now holds / no longer holds `fd` in the
  // process-wide descriptor-ownership table.
  static void Acquire(int fd);
  static void Release(int fd);
};

}  // namespace internal

// Records in the descriptor-ownership table whether a ScopedFD holds `fd`.
// Descriptors outside the table are ignored.
void UpdateFdOwnership(int fd, bool owned);

// The descriptor-ownership table covers descriptors 0-4095. With
// enforcement on, taking a descriptor that is already recorded as held,
// giving up one that is not, or calling the process's `close` on a held one
// ends the process through CrashOnFdOwnershipViolation(). Off at start;
// nothing in this program turns it on.
void EnableFdOwnershipEnforcement(bool enabled);

// Writes an ERROR raw log record and the stack to standard error, then
// traps.
[[noreturn]] void CrashOnFdOwnershipViolation();

// Owns one file descriptor (-1 for none) and closes it when done.
using ScopedFD = ScopedGeneric<int, internal::ScopedFDCloseTraits>;

}  // namespace kelmbase

#endif  // AGENT_BASE_FILES_SCOPED_FILE_H_

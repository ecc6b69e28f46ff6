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

// Owns one file descriptor (-1 for none) and closes it when done.
using ScopedFD = ScopedGeneric<int, internal::ScopedFDCloseTraits>;

}  // namespace kelmbase

#endif  // AGENT_BASE_FILES_SCOPED_FILE_H_

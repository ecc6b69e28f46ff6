#include "agent/base/files/scoped_file.h"

namespace kelmbase {

namespace internal {

void ScopedFDCloseTraits::Acquire(int fd) { UpdateFdOwnership(fd, true); }

void ScopedFDCloseTraits::Release(int fd) { UpdateFdOwnership(fd, false); }

}  // namespace internal

// The ownership table and its enforcement are not built yet; until then
// nothing is recorded.
void UpdateFdOwnership(int fd, bool owned) {}

}  // namespace kelmbase

#include "agent/base/files/scoped_file.h"

#include <errno.h>
#include <unistd.h>

#include "logging/check.h"

namespace kelmbase {
namespace internal {

void ScopedFDCloseTraits::Free(int fd) {
  int ret = close(fd);
  if (ret == 0) return;
  // After EINTR the descriptor is closed all the same; retrying could close
  // a number that another thread has just been given.
  if (errno == EINTR) return;
  // Other errors (from network file systems, for instance) still leave the
  // descriptor closed; only EBADF means ownership was broken.
  if (errno != EBADF) return;
  CHECK(0 == ret);
}

}  // namespace internal
}  // namespace kelmbase

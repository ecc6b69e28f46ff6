#include <errno.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include "agent/base/files/file_util.h"
#include "agent/base/rand_util.h"
#include "logging/check.h"

namespace kelmbase {

UrandomFd::UrandomFd() {
  do {
    fd_ = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  CHECK(fd_ >= 0) << "Cannot open /dev/urandom";
}

int UrandomFd::Get() {
  // Made once, thread-safely, and kept for the life of the process.
  static const UrandomFd* const instance = new UrandomFd();
  return instance->fd_;
}

void RandomBytes(void* output, size_t length) {
  // The system call itself, not a library wrapper that might serve bytes
  // from elsewhere: flags 0 waits until the kernel's pool is ready.
  long got;
  do {
    got = syscall(SYS_getrandom, output, length, 0);
  } while (got < 0 && errno == EINTR);
  if (got >= 0 && static_cast<size_t>(got) == length) {
    return;
  }

  // The kernel refused (no getrandom, a seccomp filter) or gave fewer bytes
  // than asked (large requests): read the whole buffer again from the
  // device, which never comes up short.
  const bool success =
      ReadFromFd(UrandomFd::Get(), static_cast<char*>(output), length);
  CHECK(success);
}

}  // namespace kelmbase

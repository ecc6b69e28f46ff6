#ifndef AGENT_BASE_RAND_UTIL_H_
#define AGENT_BASE_RAND_UTIL_H_

#include <cstddef>
#include <cstdint>

namespace kelmbase {

// Fills `length` bytes at `output` with cryptographically strong random
// bytes from the kernel (`getrandom`, falling back to /dev/urandom when that
// call fails or comes up short). May block once, early in boot, until the
// kernel's pool is ready. Never fails: a fallback read that cannot deliver
// every byte is fatal. Any thread.
void RandomBytes(void* output, size_t length);

// A uniformly distributed 64-bit value (eight bytes of `RandomBytes`).
uint64_t RandomUint64();

// A uniformly distributed int in [min, max], both ends included; every int
// range works, INT_MIN to INT_MAX included. `min` above `max` is fatal.
int RandomInt(int min, int max);

// A uniformly distributed double in [0, 1): never 1.0.
double RandomDouble();

// The process-wide descriptor of "/dev/urandom" behind the fallback of
// `RandomBytes`: opened (close-on-exec) on first use, never closed. Failing
// to open it is fatal.
class UrandomFd {
 public:
  UrandomFd(const UrandomFd&) = delete;
  UrandomFd& operator=(const UrandomFd&) = delete;

  static int Get();

 private:
  UrandomFd();

  int fd_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_RAND_UTIL_H_

#include "internal/certificate/tarvik/credential_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "agent/base/files/file_path.h"
#include "agent/base/location.h"
#include "agent/base/threading/platform_thread.h"
#include "agent/base/threading/scoped_blocking_call.h"
#include "internal/certificate/credential_file.h"
#include "logging/log.h"

namespace vantorel {

namespace {

// Between two tries of a lock that another run holds.
constexpr kelmbase::Duration kRetryInterval =
    kelmbase::Duration::FromMilliseconds(20);

int OpenLockFile(const std::string& path, int flags) {
  // Never through a symbolic link: the lock file is ours alone.
  return open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
}

}  // namespace

std::string CredentialLock::LockFilePath(const std::string& key_path) {
  return kelmbase::FilePath(key_path).DirName().Append(kFileName).value();
}

bool CredentialLock::Acquire(const std::string& key_path, Mode mode,
                             kelmbase::Duration max_wait) {
  return OpenAndLock(key_path, mode, max_wait,
                     /*unlocked_if_unwritable=*/false);
}

bool CredentialLock::AcquireIfWritable(const std::string& key_path, Mode mode,
                                       kelmbase::Duration max_wait) {
  return OpenAndLock(key_path, mode, max_wait, /*unlocked_if_unwritable=*/true);
}

bool CredentialLock::OpenAndLock(const std::string& key_path, Mode mode,
                                 kelmbase::Duration max_wait,
                                 bool unlocked_if_unwritable) {
  const std::string lock_path = LockFilePath(key_path);
  fd_.reset(OpenLockFile(lock_path, O_RDONLY | O_CREAT));
  if (!fd_.is_valid() && unlocked_if_unwritable &&
      (errno == EACCES || errno == EROFS)) {
    // Another user's writer may have made it already.
    fd_.reset(OpenLockFile(lock_path, O_RDONLY));
  }
  if (!fd_.is_valid()) {
    if (unlocked_if_unwritable &&
        (errno == ENOENT || errno == EACCES || errno == EROFS)) {
      return true;
    }
    LOG(ERROR) << "CredentialLock: cannot open " << PathForRecord(lock_path)
               << ": " << std::strerror(errno);
    return false;
  }
  return Lock(lock_path, mode, max_wait);
}

bool CredentialLock::Lock(const std::string& lock_path, Mode mode,
                          kelmbase::Duration max_wait) {
  struct stat info;
  if (fstat(fd_.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    LOG(ERROR) << "CredentialLock: " << PathForRecord(lock_path)
               << " is not a regular file.";
    fd_.reset();
    return false;
  }
  const int operation = (mode == Mode::kShared ? LOCK_SH : LOCK_EX) | LOCK_NB;
  const kelmbase::MonotonicTime deadline =
      kelmbase::MonotonicTime::Now() + max_wait;
  kelmbase::ScopedBlockingCall scoped_blocking_call(
      FROM_HERE, kelmbase::BlockingType::kMayBlock);
  // Polled rather than blocking, so that the wait has a bound.
  while (flock(fd_.get(), operation) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      LOG(ERROR) << "CredentialLock: cannot lock " << PathForRecord(lock_path)
                 << ": " << std::strerror(errno);
      fd_.reset();
      return false;
    }
    if (kelmbase::MonotonicTime::Now() >= deadline) {
      LOG(ERROR) << "CredentialLock: another tarvik run holds "
                 << PathForRecord(lock_path) << "; gave up after "
                 << max_wait.InSecondsF() << " seconds.";
      fd_.reset();
      return false;
    }
    kelmbase::PlatformThread::Sleep(kRetryInterval);
  }
  return true;
}

}  // namespace vantorel

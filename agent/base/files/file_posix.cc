#include <errno.h>
#include <sys/stat.h>

#include "agent/base/files/file.h"
#include "agent/base/location.h"
#include "agent/base/metrics/histogram_functions.h"
#include "agent/base/threading/scoped_blocking_call.h"

namespace kelmbase {

int File::Stat(const char* path, stat_wrapper_t* sb) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
  return stat(path, sb);
}

int File::Fstat(int fd, stat_wrapper_t* sb) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
  return fstat(fd, sb);
}

int File::Lstat(const char* path, stat_wrapper_t* sb) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
  return lstat(path, sb);
}

File::Error File::ErrorFromErrno(int saved_errno) {
  switch (saved_errno) {
    case EPERM:
    case EACCES:
    case EISDIR:
    case EROFS:
      return kErrorAccessDenied;
    case EBUSY:
    case ETXTBSY:
      return kErrorInUse;
    case EEXIST:
      return kErrorExists;
    case EIO:
      return kErrorIo;
    case ENOENT:
      return kErrorNotFound;
    case ENFILE:
    case EMFILE:
      return kErrorTooManyOpened;
    case ENOMEM:
      return kErrorNoMemory;
    case ENOSPC:
      return kErrorNoSpace;
    case ENOTDIR:
      return kErrorNotADirectory;
    default:
      RecordSparseSample("PlatformFile.UnknownErrors.Posix", saved_errno);
      return kErrorFailed;
  }
}

}  // namespace kelmbase

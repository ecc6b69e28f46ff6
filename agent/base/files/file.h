#ifndef AGENT_BASE_FILES_FILE_H_
#define AGENT_BASE_FILES_FILE_H_

#include <sys/stat.h>

namespace kelmbase {

// The file layer's stat record.
using stat_wrapper_t = struct stat;

// Error codes of the file layer and the stat calls it is built on.
class File {
 public:
  enum Error : int {
    kErrorOk = 0,
    kErrorFailed = -1,
    kErrorInUse = -2,
    kErrorExists = -3,
    kErrorNotFound = -4,
    kErrorAccessDenied = -5,
    kErrorTooManyOpened = -6,
    kErrorNoMemory = -7,
    kErrorNoSpace = -8,
    kErrorNotADirectory = -9,
    kErrorIo = -16,
  };

  File() = delete;

  // stat, lstat and fstat inside a blocking-call scope; the system call's
  // result (0, or -1 with errno set).
  static int Stat(const char* path, stat_wrapper_t* sb);
  static int Lstat(const char* path, stat_wrapper_t* sb);
  static int Fstat(int fd, stat_wrapper_t* sb);

  // Maps an errno value to an Error. Values without a mapping give
  // kErrorFailed and are counted in the sparse histogram
  // "PlatformFile.UnknownErrors.Posix", so unexpected errors show up there.
  static Error ErrorFromErrno(int saved_errno);
};

}  // namespace kelmbase

#endif  // AGENT_BASE_FILES_FILE_H_

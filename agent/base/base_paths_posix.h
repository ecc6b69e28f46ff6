#ifndef AGENT_BASE_BASE_PATHS_POSIX_H_
#define AGENT_BASE_BASE_PATHS_POSIX_H_

#include "agent/base/files/file_path.h"

namespace kelmbase {

// Keys that only the POSIX provider serves, for PathService.
enum BasePathPosixKey {
  // The user's cache directory: $XDG_CACHE_HOME, else ~/.cache.
  DIR_CACHE = 401,
};

// Answers FILE_EXE, FILE_MODULE, DIR_SOURCE_ROOT, DIR_ASSETS,
// DIR_USER_DESKTOP and DIR_CACHE; false for any other key. Registered ahead
// of BasePathProvider, so its DIR_ASSETS answer (the source root) wins.
bool PosixPathProvider(int key, FilePath* result);

}  // namespace kelmbase

#endif  // AGENT_BASE_BASE_PATHS_POSIX_H_

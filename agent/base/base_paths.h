#ifndef AGENT_BASE_BASE_PATHS_H_
#define AGENT_BASE_BASE_PATHS_H_

#include "agent/base/base_paths_posix.h"
#include "agent/base/files/file_path.h"

namespace kelmbase {

// Keys of the base library's well-known paths, for PathService.
enum BasePathKey {
  // The working directory; looked up afresh every time, never cached.
  DIR_CURRENT = 1,
  // The directory that holds the program.
  DIR_EXE = 2,
  // The directory that holds the program's module (the program itself).
  DIR_MODULE = 3,
  // The directory of the program's data files (the source root).
  DIR_ASSETS = 4,
  // The temporary directory.
  DIR_TEMP = 5,
  // The user's home directory.
  DIR_HOME = 6,
  // The program file.
  FILE_EXE = 7,
  // The module file (the program itself).
  FILE_MODULE = 8,
  // The root of the shipped source tree, inside the program's runfiles.
  DIR_SOURCE_ROOT = 9,
  // The user's desktop directory.
  DIR_USER_DESKTOP = 10,
  // The base library's test data; only where it exists.
  DIR_TEST_DATA = 11,
};

// Answers DIR_EXE, DIR_MODULE, DIR_ASSETS, DIR_TEMP, DIR_HOME and
// DIR_TEST_DATA; false for any other key.
bool BasePathProvider(int key, FilePath* result);

}  // namespace kelmbase

#endif  // AGENT_BASE_BASE_PATHS_H_

#ifndef PATHS_KELM_PATHS_H_
#define PATHS_KELM_PATHS_H_

#include "agent/base/files/file_path.h"

namespace vantorel {

// Keys of the device's own paths, for kelmbase::PathService.
enum PathKey {
  PATH_START = 8000,
  // The device software's home: ".config/kelm_shell" in the home directory.
  DIR_KELM_HOME,
  // The device configuration file.
  FILE_DEVICE_CONFIG,
  // The device's certificate revocation list.
  FILE_DEVICE_CRL,
  // The shell's resource pack.
  FILE_SHELL_PAK,
  // The browser configuration file.
  FILE_BROWSER_CONFIG,
  PATH_END,
};

// DIR_KELM_HOME's path below the home directory.
inline constexpr char kKelmHomeRelativePath[] = ".config/kelm_shell";

// Answers the keys above (not PATH_START or PATH_END); false for any other.
bool PathProvider(int key, kelmbase::FilePath* result);

// Registers PathProvider with kelmbase::PathService.
void RegisterPathProvider();

}  // namespace vantorel

#endif  // PATHS_KELM_PATHS_H_

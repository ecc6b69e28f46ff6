#ifndef PATHS_KELM_CORE_PATHS_H_
#define PATHS_KELM_CORE_PATHS_H_

#include <string>

#include "agent/base/files/file_path.h"

namespace kelm_core {

// Keys of the core software's paths, for kelmbase::PathService.
enum PathKey {
  PATH_START = 5000,
  // The client certificate chain (PEM).
  FILE_CLIENT_CERT,
  // The wrapped client key.
  FILE_CLIENT_KEY,
  // The model certificate and key shipped beside the program.
  FILE_MODEL_CERT,
  FILE_MODEL_KEY,
  // Paths that this device's configuration leaves empty: the lookup fails.
  FILE_LOG,
  // Assets shared by the device's programs, where present.
  DIR_COMMON_ASSETS,
  // Locale data inside the common assets, where present.
  DIR_LOCALES,
  // DRM data.
  DIR_DRM_DATA,
  // Left empty by this device's configuration: the lookup fails.
  FILE_CRASH_UPLOADER,
  DIR_CRASH_DUMPS,
  // Saved volume levels.
  DIR_SAVED_VOLUMES,
  // Left empty by this device's configuration: the lookup fails.
  FILE_DUMPSTATE,
  FILE_DUMPSTATE_LOG_TOOL,
  PATH_END,
};

// Answers the keys above (not PATH_START or PATH_END); false for any other.
bool PathProvider(int key, kelmbase::FilePath* result);

// Registers the device provider and then this one with
// kelmbase::PathService, so this one is asked first. Only the first call in
// a process registers anything.
void RegisterPathProviders();

// The client certificate chain file, or "certs/client.crt" if its path
// cannot be had.
std::string GetClientCertPath();

// The wrapped client key file, or "certs/client.key.bin" if its path cannot
// be had.
std::string GetClientKeyPath();

// GetClientCertPath and GetClientKeyPath for a caller that must not end the
// process: false, leaving `path` alone, where those end in the provider's
// fatal CHECK, which is when the home folder holds a ".." component and the
// folder under it cannot be resolved (HOME=/tmp/no/../home with /tmp/no
// missing).
bool TryGetClientCertPath(std::string* path);
bool TryGetClientKeyPath(std::string* path);

}  // namespace kelm_core

#endif  // PATHS_KELM_CORE_PATHS_H_

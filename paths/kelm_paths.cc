#include "paths/kelm_paths.h"

#include "agent/base/base_paths.h"
#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/path_service.h"
#include "logging/check.h"

namespace vantorel {

bool PathProvider(int key, kelmbase::FilePath* result) {
  switch (key) {
    case DIR_KELM_HOME:
      *result = kelmbase::GetHomeDir().Append(kKelmHomeRelativePath);
      return true;
    case FILE_DEVICE_CONFIG:
    case FILE_DEVICE_CRL:
    case FILE_BROWSER_CONFIG: {
      kelmbase::FilePath data_dir;
      CHECK(kelmbase::PathService::Get(DIR_KELM_HOME, &data_dir));
      const char* name = key == FILE_DEVICE_CONFIG ? ".vaskel.conf"
                         : key == FILE_DEVICE_CRL  ? ".vaskel.crl"
                                                   : ".kelm_browser.conf";
      *result = data_dir.Append(name);
      return true;
    }
    case FILE_SHELL_PAK: {
      kelmbase::FilePath base_dir;
      CHECK(kelmbase::PathService::Get(kelmbase::DIR_ASSETS, &base_dir));
      *result = base_dir.Append("assets/kelm_shell.pak");
      return true;
    }
    default:
      return false;
  }
}

void RegisterPathProvider() {
  kelmbase::PathService::AddProvider(PathProvider, PATH_START, PATH_END);
}

}  // namespace vantorel

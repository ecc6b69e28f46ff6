#include "agent/base/base_paths.h"

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/path_service.h"

namespace kelmbase {

bool BasePathProvider(int key, FilePath* result) {
  FilePath path;
  switch (key) {
    case DIR_EXE:
      if (!PathService::Get(FILE_EXE, &path)) return false;
      path = path.DirName();
      break;
    case DIR_MODULE:
      if (!PathService::Get(FILE_MODULE, &path)) return false;
      path = path.DirName();
      break;
    case DIR_ASSETS:
      if (!PathService::Get(DIR_MODULE, &path)) return false;
      break;
    case DIR_TEMP:
      if (!GetTempDir(&path)) return false;
      break;
    case DIR_HOME:
      path = GetHomeDir();
      break;
    case DIR_TEST_DATA:
      if (!PathService::Get(DIR_SOURCE_ROOT, &path)) return false;
      path = path.Append("base").Append("test").Append("data");
      if (!DirectoryExists(path)) return false;
      break;
    default:
      return false;
  }
  *result = path;
  return true;
}

}  // namespace kelmbase

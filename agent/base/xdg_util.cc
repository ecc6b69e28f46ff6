#include "agent/base/xdg_util.h"

#include <stdlib.h>

#include <string>

#include "agent/base/base_paths.h"
#include "agent/base/environment.h"
#include "agent/base/path_service.h"
#include "agent/base/xdg_user_dir_lookup.h"

namespace kelmbase {

namespace {

FilePath HomeDirJoinedWith(const char* fallback_dir) {
  FilePath home;
  PathService::Get(DIR_HOME, &home);
  return home.Append(fallback_dir);
}

}  // namespace

FilePath GetXdgDirectory(Environment* env, const char* env_name,
                         const char* fallback_dir) {
  FilePath path;
  std::string env_value;
  if (env->GetVar(env_name, &env_value) && !env_value.empty()) {
    path = FilePath(env_value);
  } else {
    path = HomeDirJoinedWith(fallback_dir);
  }
  return path.StripTrailingSeparators();
}

FilePath GetXdgUserDirectory(const char* dir_name, const char* fallback_dir) {
  FilePath path;
  char* xdg_dir = LookupXdgUserDir(dir_name);
  if (xdg_dir != nullptr) {
    path = FilePath(xdg_dir);
    free(xdg_dir);
  } else {
    path = HomeDirJoinedWith(fallback_dir);
  }
  return path.StripTrailingSeparators();
}

}  // namespace kelmbase

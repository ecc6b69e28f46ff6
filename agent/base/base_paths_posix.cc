#include "agent/base/base_paths_posix.h"

#include <memory>

#include "agent/base/base_paths.h"
#include "agent/base/environment.h"
#include "agent/base/files/file_path.h"
#include "agent/base/xdg_util.h"
#include "devtools/build/runtime/get_runfiles_dir.h"

namespace kelmbase {

namespace {

// Where the agent sources sit inside the program's runfiles tree.
constexpr char kSourceRootInRunfiles[] = "plovex3/third_party/ambrel/agent";

}  // namespace

bool PosixPathProvider(int key, FilePath* result) {
  switch (key) {
    case FILE_EXE:
    case FILE_MODULE:
      *result = FilePath(devtools_build::GetProgramPath());
      return true;
    case DIR_SOURCE_ROOT:
    case DIR_ASSETS:
      *result =
          FilePath(devtools_build::GetRunfilesPath(kSourceRootInRunfiles));
      return true;
    case DIR_USER_DESKTOP:
      *result = GetXdgUserDirectory("DESKTOP", "Desktop");
      return true;
    case DIR_CACHE: {
      std::unique_ptr<Environment> env = Environment::Create();
      *result = GetXdgDirectory(env.get(), "XDG_CACHE_HOME", ".cache");
      return true;
    }
    default:
      return false;
  }
}

}  // namespace kelmbase

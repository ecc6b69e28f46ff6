#ifndef AGENT_BASE_XDG_UTIL_H_
#define AGENT_BASE_XDG_UTIL_H_

#include "agent/base/files/file_path.h"

namespace kelmbase {

class Environment;

// The directory named by the environment variable `env_name` when it is set
// and not empty; otherwise the home directory (DIR_HOME) joined with
// `fallback_dir`. Trailing separators are stripped.
FilePath GetXdgDirectory(Environment* env, const char* env_name,
                         const char* fallback_dir);

// The user directory of type `dir_name` ("DESKTOP", "DOWNLOAD", ...) as the
// user's user-dirs.dirs configures it, or the home directory joined with
// `fallback_dir` if that cannot be read at all. Trailing separators are
// stripped.
FilePath GetXdgUserDirectory(const char* dir_name, const char* fallback_dir);

}  // namespace kelmbase

#endif  // AGENT_BASE_XDG_UTIL_H_

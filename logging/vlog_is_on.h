#ifndef LOGGING_VLOG_IS_ON_H_
#define LOGGING_VLOG_IS_ON_H_

// Per-file verbosity for VLOG: --vmodule, a comma-separated list of
// <pattern>=<level>, overrides --v for the source files whose module name
// matches a pattern. A file's module name is its base name (after the last
// '/' or '\') up to its first '.', so "a/b/statistics_recorder.cc" is
// "statistics_recorder". Patterns are matched against the whole module name,
// case-sensitively; '*' stands for any run of characters (also none) and '?'
// for exactly one. The first pattern that matches gives the level; a file
// that no pattern matches gets --v. Entries without '=' or with a level that
// is not an int32 are ignored.

#include <atomic>
#include <cstdint>
#include <limits>

namespace kelm_log {
namespace internal {

// What g_global_verbosity holds while --vmodule has at least one entry: the
// level then depends on the file. A --v of this very value is handled by the
// per-file path too, which falls back to --v.
inline constexpr int32_t kVerbosityPerFile =
    std::numeric_limits<int32_t>::min();

// --v while --vmodule has no entry, else kVerbosityPerFile. Kept by
// UpdateVerbosity; read relaxed, so a VLOG site with no --vmodule costs one
// load.
extern std::atomic<int32_t> g_global_verbosity;

// The update hook of --v and --vmodule: reads both flags and rebuilds the
// pattern list and g_global_verbosity from them. Any thread.
void UpdateVerbosity();

}  // namespace internal

// The verbose level in effect for the source file `file` (a __FILE__ path).
// Takes a lock. Any thread.
int32_t VlogLevelForFile(const char* file);

// Whether VLOG(`level`) records from `file` are written. One relaxed load
// while --vmodule has no entry; VlogLevelForFile otherwise. Any thread.
inline bool VlogIsOn(int32_t level, const char* file) {
  const int32_t verbosity =
      internal::g_global_verbosity.load(std::memory_order_relaxed);
  if (verbosity != internal::kVerbosityPerFile) [[likely]] {
    return level <= verbosity;
  }
  return level <= VlogLevelForFile(file);
}

}  // namespace kelm_log

#endif  // LOGGING_VLOG_IS_ON_H_

#include "logging/vlog_is_on.h"

#include <mutex>
#include <string>
#include <vector>

#include "absl/base/attributes.h"
#include "absl/flags/flag.h"
#include "absl/strings/numbers.h"
#include "absl/strings/str_split.h"
#include "absl/strings/string_view.h"
#include "logging/log_flags.h"
#include "logging/log_prefix.h"

namespace kelm_log {
namespace internal {

// Constant-initialised to the defaults of --v (0) and --vmodule (empty), so
// VLOG sites that run before the flags are registered see the right level.
ABSL_CONST_INIT std::atomic<int32_t> g_global_verbosity{0};

}  // namespace internal

namespace {

struct ModuleLevel {
  std::string pattern;
  int32_t level;
};

// Guards the parsed --vmodule list and g_verbosity, the copy of --v beside
// it. Nothing is locked under it but the flag library's lock of --vmodule,
// while UpdateVerbosity reads that flag. A plain mutex rather than the
// mutex library's, which is not built with the thread sanitizer; only VLOG
// sites of programs run with --vmodule take it.
ABSL_CONST_INIT std::mutex g_verbosity_mutex;
int32_t g_verbosity = 0;

// The parsed --vmodule entries, in their order; guarded by g_verbosity_mutex.
// Never destroyed: VLOG sites may run from at-exit callbacks and static
// destructors.
std::vector<ModuleLevel>& ModuleLevels() {
  static std::vector<ModuleLevel>& levels = *new std::vector<ModuleLevel>();
  return levels;
}

// Whole-text match of `text` against `pattern`, where '*' matches any run of
// characters and '?' any one character. On a mismatch after a '*', the '*'
// takes one more character and matching resumes; only the latest '*' needs
// revisiting, since an earlier one could only give up characters that the
// later one can take as well.
bool GlobMatches(absl::string_view pattern, absl::string_view text) {
  size_t p = 0;
  size_t t = 0;
  size_t star = absl::string_view::npos;
  size_t star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_text = t;
      continue;
    }
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
      continue;
    }
    if (star == absl::string_view::npos) return false;
    p = star + 1;
    t = ++star_text;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

absl::string_view ModuleName(const char* file) {
  absl::string_view base = BaseName(file);
  return base.substr(0, base.find('.'));
}

}  // namespace

namespace internal {

void UpdateVerbosity() {
  // Both flags are read under the lock, so whichever of two concurrent
  // updates of --v and --vmodule finishes last leaves both values in place.
  std::lock_guard<std::mutex> lock(g_verbosity_mutex);
  const int32_t verbosity = absl::GetFlag(FLAGS_v);
  const std::string vmodule = absl::GetFlag(FLAGS_vmodule);
  std::vector<ModuleLevel>& levels = ModuleLevels();
  levels.clear();
  for (absl::string_view entry :
       absl::StrSplit(vmodule, ',', absl::SkipEmpty())) {
    const size_t equals = entry.find('=');
    if (equals == absl::string_view::npos) continue;
    int32_t level;
    if (!absl::SimpleAtoi(entry.substr(equals + 1), &level)) continue;
    levels.push_back({std::string(entry.substr(0, equals)), level});
  }
  g_verbosity = verbosity;
  g_global_verbosity.store(levels.empty() ? verbosity : kVerbosityPerFile,
                           std::memory_order_relaxed);
}

}  // namespace internal

int32_t VlogLevelForFile(const char* file) {
  const absl::string_view module = ModuleName(file);
  std::lock_guard<std::mutex> lock(g_verbosity_mutex);
  for (const ModuleLevel& entry : ModuleLevels()) {
    if (GlobMatches(entry.pattern, module)) return entry.level;
  }
  return g_verbosity;
}

}  // namespace kelm_log

#ifndef BASE_PROCESS_STATE_H_
#define BASE_PROCESS_STATE_H_

#include <cstdint>
#include <string>

#include "absl/flags/declare.h"
#include "absl/strings/string_view.h"

// Flags describing how the process behaves when it fails.
ABSL_DECLARE_FLAG(bool, infinite_loop_on_signal);
ABSL_DECLARE_FLAG(bool, suppress_failure_output);
ABSL_DECLARE_FLAG(std::string, debugger_command);
ABSL_DECLARE_FLAG(int32_t, stacktrace_timeout);
ABSL_DECLARE_FLAG(bool, test_indicate_sighandler_done);

namespace base {

// The environment variable by which the cluster manager marks the processes
// it runs. With it set, a debugger command must pass
// internal::DebuggerCommandFollowsAllowedPattern.
inline constexpr char kClusterTaskEnvironmentVariable[] = "PLOVEX_CLUSTER_TASK";

// The debugger agent that a managed process may name in its command.
inline constexpr char kDebuggerAgentPath[] = "/usr/bin/plovex_debug_agent";

// The --debugger_command update hook: checks the command and copies it into
// a fixed buffer. A managed process that names a command outside the allowed
// pattern ends quietly (the FATAL record without a stack trace, then
// _exit(1)); a command of 1024 bytes or more is an ordinary fatal CHECK
// failure. Any thread.
void OnDebuggerCommandUpdate();

// A copy of the stored debugger command ("" when none). Any thread.
std::string DebuggerCommand();

namespace internal {

// True when every piece of `command`, split at single spaces, is one of the
// agent's four rollout/justification switches, the attach-wait assignment,
// the agent's path, or "--<option>=<value>" with a known agent option and a
// value (one pair of surrounding double quotes removed) made only of letters,
// digits and "%_-./:". An empty command passes.
bool DebuggerCommandFollowsAllowedPattern(absl::string_view command);

}  // namespace internal
}  // namespace base

#endif  // BASE_PROCESS_STATE_H_

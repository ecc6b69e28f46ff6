#include "base/process_state.h"

#include <cstdlib>
#include <cstring>

#include "absl/base/const_init.h"
#include "absl/base/internal/spinlock.h"
#include "absl/flags/flag.h"
#include "absl/strings/ascii.h"
#include "absl/strings/match.h"
#include "absl/strings/str_split.h"
#include "logging/check.h"

ABSL_FLAG(bool, infinite_loop_on_signal, false,
          "spin for ever after a failure signal instead of ending, so a "
          "debugger can attach");
ABSL_FLAG(bool, suppress_failure_output, false,
          "write nothing to standard error when the process fails");
ABSL_FLAG(std::string, debugger_command, "",
          "command that starts the debugger agent when the process fails; "
          "for managed processes only the agent and its documented options "
          "are allowed")
    .OnUpdate(base::OnDebuggerCommandUpdate);
ABSL_FLAG(int32_t, stacktrace_timeout, 300,
          "seconds the failure handler may spend writing stack traces");
ABSL_FLAG(bool, test_indicate_sighandler_done, false,
          "tell the test harness when the failure handler has finished");

namespace base {
namespace {

// Build property: this build may be checked against the allowed pattern.
constexpr bool kBuildIsVerifiable = true;

ABSL_CONST_INIT absl::base_internal::SpinLock g_debugger_command_lock(
    absl::kConstInit, absl::base_internal::SCHEDULE_KERNEL_ONLY);
char debugger_command[1024];

constexpr absl::string_view kSwitches[] = {
    "--rollout", "--norollout", "--justification_required",
    "--nojustification_required", "INVOKE_DEBUGGER_WAIT_FOR_ATTACH=0"};

constexpr absl::string_view kAgentOptions[] = {
    "attach_timeout", "breakpoint_file", "core_limit",   "dump_dir",
    "dump_format",    "extra_symbols",   "log_dir",      "max_threads",
    "notify_address", "reason",          "script",       "session_name",
    "symbol_path",    "target_filter",   "wait_seconds"};

bool IsAllowedValueText(absl::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  for (char c : value) {
    if (!absl::ascii_isalnum(static_cast<unsigned char>(c)) &&
        std::strchr("%_-./:", c) == nullptr) {
      return false;
    }
  }
  return true;
}

bool IsAllowedPiece(absl::string_view piece) {
  for (absl::string_view allowed : kSwitches) {
    if (piece == allowed) return true;
  }
  if (piece == kDebuggerAgentPath) return true;
  if (!absl::ConsumePrefix(&piece, "--")) return false;
  const size_t equals = piece.find('=');
  if (equals == absl::string_view::npos) return false;
  const absl::string_view key = piece.substr(0, equals);
  for (absl::string_view option : kAgentOptions) {
    if (key == option) return IsAllowedValueText(piece.substr(equals + 1));
  }
  return false;
}

}  // namespace

namespace internal {

bool DebuggerCommandFollowsAllowedPattern(absl::string_view command) {
  if (command.empty()) return true;
  for (absl::string_view piece : absl::StrSplit(command, ' ')) {
    if (!IsAllowedPiece(piece)) return false;
  }
  return true;
}

}  // namespace internal

void OnDebuggerCommandUpdate() {
  const std::string cmd = absl::GetFlag(FLAGS_debugger_command);
  if (!cmd.empty() && kBuildIsVerifiable &&
      std::getenv(kClusterTaskEnvironmentVariable) != nullptr) {
    // A refused command is a configuration error, not a fault of this
    // program: the record says what is wrong, and a stack trace would only
    // show the flag library calling this hook.
    QCHECK(internal::DebuggerCommandFollowsAllowedPattern(cmd))
        << "A debugger command is not allowed for processes run by the "
           "cluster manager unless it starts the debugger agent with its "
           "documented options.";
  }
  absl::base_internal::SpinLockHolder hold(&g_debugger_command_lock);
  CHECK(cmd.size() < sizeof(debugger_command));
  memcpy(debugger_command, cmd.c_str(), cmd.size() + 1);
}

std::string DebuggerCommand() {
  absl::base_internal::SpinLockHolder hold(&g_debugger_command_lock);
  return std::string(debugger_command);
}

}  // namespace base

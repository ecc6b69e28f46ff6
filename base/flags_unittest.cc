#include <cstdlib>
#include <string>

#include "absl/container/internal/hashtablez_sampler.h"
#include "absl/flags/flag.h"
#include "absl/flags/reflection.h"
#include "absl/strings/internal/cord_internal.h"
#include "absl/strings/internal/cordz_functions.h"
#include "absl/synchronization/mutex.h"
#include "base/absl_flags.h"
#include "base/examine_stack.h"
#include "base/proc_maps.h"
#include "base/process_state.h"
#include "base/protobuf_flags.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "logging/log.h"
#include "logging/log_flags.h"

ABSL_DECLARE_FLAG(int32_t, hashtablez_sample_parameter);
ABSL_DECLARE_FLAG(int32_t, hashtablez_max_samples);

namespace base {
namespace {

using ::testing::HasSubstr;

// Flags are process-wide: whatever a test sets is put back after it.
class FrameworkFlagsTest : public testing::Test {
 protected:
  absl::FlagSaver saved_flags_;
};

TEST_F(FrameworkFlagsTest, EveryFlagIsRegisteredWithItsDefault) {
  struct Case {
    const char* name;
    const char* default_text;
  } cases[] = {
      {"mlock_style", ""},
      {"virtual_memory_limit_mb", "0"},
      {"synch_check_invariants", "false"},
      {"cordz_mean_interval", "50000"},
      {"copy_sharing_threshold", "512"},
      {"cord_steals_from_rvalue_strings", "false"},
      {"cord_enable_ring_buffer", "false"},
      {"cord_shallow_subcords", "false"},
      {"hashtablez_sample_enabled", "true"},
      {"hashtablez_sample_parameter", "1024"},
      {"hashtablez_max_samples", "1048576"},
      {"pbarenaz_sample_enabled", "true"},
      {"pbarenaz_sample_parameter", "1024"},
      {"pbarenaz_max_samples", "1048576"},
      {"lock_buildid", "true"},
      {"infinite_loop_on_signal", "false"},
      {"suppress_failure_output", "false"},
      {"debugger_command", ""},
      {"stacktrace_timeout", "300"},
      {"test_indicate_sighandler_done", "false"},
      {"coredump_timeout", "300"},
      {"chroot", ""},
      {"silent_init", "false"},
      {"syslog_util_force_corp_for_testing", "false"},
      {"syslog_util_log_sockaddr", "/dev/log"},
      {"flagfile", ""},
      {"fromenv", ""},
      {"tryfromenv", ""},
      {"undefok", ""},
      {"dump_all_maps_on_failure", "false"},
      {"symbolize_stacktrace", "true"},
      {"skip_address_map", "false"},
      {"dump_stack_frames_limit", "128"},
      {"install_signal_handlers", "true"},
      {"install_named_signal_handlers", "failure,profiling,stackdump"},
      {"use_alternate_stack_for_signal_handlers", "true"},
      {"alarm_on_failure", "true"},
      {"procfs_prefix", ""},
      {"minloglevel", "0"},
      {"threaded_logging", "true"},
      {"nsscache_timeout", "2"},
      {"uid", ""},
      {"gid", "=uid"},
      {"nice_priority_level", "0"},
      {"syslog_on_start", "true"},
      {"data_version", ""},
      {"temp_bad_calls_before_init_plovex_returns_action", "3"},
      {"temp_grandfathered_bad_calls_before_init_plovex_returns_action", "-1"},
  };
  for (const Case& c : cases) {
    absl::CommandLineFlag* flag = absl::FindCommandLineFlag(c.name);
    ASSERT_NE(flag, nullptr) << c.name;
    EXPECT_EQ(flag->DefaultValue(), c.default_text) << c.name;
    EXPECT_EQ(flag->CurrentValue(), c.default_text) << c.name;
  }
}

TEST_F(FrameworkFlagsTest, RetiredFlagIsAcceptedAndIgnored) {
  absl::CommandLineFlag* flag = absl::FindCommandLineFlag("cord_enable_btree");
  ASSERT_NE(flag, nullptr);
  EXPECT_TRUE(flag->IsRetired());
}

TEST_F(FrameworkFlagsTest, HooksRanOnceWithTheDefaults) {
  EXPECT_EQ(absl::cord_internal::get_cordz_mean_interval(), 50000);
  EXPECT_EQ(CopySharingThreshold(), 512);
  EXPECT_FALSE(CordStealsFromRvalueStrings());
  EXPECT_TRUE(absl::container_internal::IsHashtablezEnabled());
  EXPECT_EQ(absl::container_internal::GetHashtablezSampleParameter(), 1024);
  EXPECT_EQ(absl::container_internal::GetHashtablezMaxSamples(), 1048576);
  EXPECT_EQ(kelm_log::StackTraceFrameLimit(), 128);
  EXPECT_TRUE(kelm_log::SymbolizeStackTrace());
  EXPECT_EQ(LogToFiles(), !absl::GetFlag(FLAGS_logtostderr));
  // PLOVEX_SYNCH_DEADLOCK_DETECTION is not set for the tests.
  EXPECT_EQ(absl::GetFlag(FLAGS_synch_deadlock_detection), 2);
  EXPECT_EQ(DeadlockDetectionMode(), 2);
}

TEST_F(FrameworkFlagsTest, DeadlockDetectionValueIsMappedToAMode) {
  struct Case {
    int32_t value;
    int32_t mode;
  } cases[] = {{-5, 0}, {0, 0}, {1, 1}, {2, 2}, {77, 2}};
  for (const Case& c : cases) {
    absl::SetFlag(&FLAGS_synch_deadlock_detection, c.value);
    EXPECT_EQ(DeadlockDetectionMode(), c.mode) << c.value;
  }
}

TEST_F(FrameworkFlagsTest, DeadlockDetectionDefaultFromEnvironment) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {{"0", 0}, {"1", 1}, {"-3", -3}, {"abc", 2}, {"", 2},
               {"99999999999", 2}};
  for (const Case& c : cases) {
    setenv("PLOVEX_SYNCH_DEADLOCK_DETECTION", c.text, 1);
    EXPECT_EQ(DeadlockDetectionFromEnv(), c.value) << c.text;
  }
  unsetenv("PLOVEX_SYNCH_DEADLOCK_DETECTION");
  EXPECT_EQ(DeadlockDetectionFromEnv(), 2);
}

// Whatever --synch_deadlock_detection says, the mutex library keeps no lock
// graph: taking two mutexes in both orders is not reported as a deadlock.
TEST(FrameworkFlagsDeathTest, MutexLibraryKeepsNoLockGraph) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer reports lock-order inversions itself";
#else
  EXPECT_EXIT(
      {
        absl::Mutex first;
        absl::Mutex second;
        {
          absl::MutexLock hold_first(&first);
          absl::MutexLock hold_second(&second);
        }
        {
          absl::MutexLock hold_second(&second);
          absl::MutexLock hold_first(&first);
        }
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
#endif
}

TEST_F(FrameworkFlagsTest, SamplersRefuseNonPositiveValues) {
  struct Case {
    absl::Flag<int32_t>* flag;
    int32_t value;
    const char* message;
  } cases[] = {
      {&FLAGS_hashtablez_sample_parameter, 0,
       "Invalid hashtablez sample rate: 0"},
      {&FLAGS_hashtablez_max_samples, 0, "Invalid hashtablez max samples: 0"},
      {&FLAGS_pbarenaz_sample_parameter, -4,
       "Invalid thread safe arenaz sample rate: -4"},
      {&FLAGS_pbarenaz_max_samples, 0,
       "Invalid thread safe arenaz max samples: 0"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    absl::SetFlag(c.flag, c.value);
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_THAT(out, HasSubstr(std::string("RAW: ") + c.message)) << c.message;
  }
  EXPECT_EQ(absl::container_internal::GetHashtablezSampleParameter(), 1024);
  EXPECT_EQ(absl::container_internal::GetHashtablezMaxSamples(), 1048576);
}

TEST_F(FrameworkFlagsTest, ProcfsPrefixIsReplacedAndEmptied) {
  EXPECT_EQ(ProcfsPrefix(), "");
  absl::SetFlag(&FLAGS_procfs_prefix, "/chroot");
  EXPECT_EQ(ProcfsPrefix(), "/chroot");
  absl::SetFlag(&FLAGS_procfs_prefix, "/other");
  EXPECT_EQ(ProcfsPrefix(), "/other");
  absl::SetFlag(&FLAGS_procfs_prefix, "");
  EXPECT_EQ(ProcfsPrefix(), "");
}

TEST(DebuggerCommandTest, AllowedPattern) {
  struct Case {
    const char* command;
    bool allowed;
  } cases[] = {
      {"", true},
      {"/usr/bin/plovex_debug_agent", true},
      {"/usr/bin/plovex_debug_agent --rollout --nojustification_required",
       true},
      {"INVOKE_DEBUGGER_WAIT_FOR_ATTACH=0 /usr/bin/plovex_debug_agent", true},
      {"/usr/bin/plovex_debug_agent --dump_dir=/tmp/x_1 --reason=\"a%b:c\"",
       true},
      {"--log_dir=", true},
      {"--log_dir=\"\"", true},
      {"/usr/bin/gdb", false},
      {"/usr/bin/plovex_debug_agent  --rollout", false},  // Empty piece.
      {"--unknown_option=1", false},
      {"--dump_dir=/tmp;rm", false},
      {"--dump_dir=a b", false},
      {"--reason=\"x\"y\"", false},
      {"--dump_dir", false},
      {"INVOKE_DEBUGGER_WAIT_FOR_ATTACH=1", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(internal::DebuggerCommandFollowsAllowedPattern(c.command),
              c.allowed)
        << c.command;
  }
}

TEST(DebuggerCommandTest, LongestCommandIsCopied) {
  const std::string command(1023, 'x');
  absl::SetFlag(&FLAGS_debugger_command, command);
  EXPECT_EQ(DebuggerCommand(), command);
  absl::SetFlag(&FLAGS_debugger_command, "");
  EXPECT_EQ(DebuggerCommand(), "");
}

TEST(DebuggerCommandDeathTest, CommandOf1024BytesIsFatal) {
  EXPECT_DEATH(absl::SetFlag(&FLAGS_debugger_command, std::string(1024, 'x')),
               "Check failed: cmd.size\\(\\) < sizeof\\(debugger_command\\)");
}

TEST(DebuggerCommandDeathTest, ManagedProcessNeedsAnAllowedCommand) {
  setenv(kClusterTaskEnvironmentVariable, "1", 1);
  // An allowed command passes even for a managed process.
  absl::SetFlag(&FLAGS_debugger_command, "/usr/bin/plovex_debug_agent");
  EXPECT_EQ(DebuggerCommand(), "/usr/bin/plovex_debug_agent");
  EXPECT_DEATH(absl::SetFlag(&FLAGS_debugger_command, "/usr/bin/gdb -p 1"),
               "debugger command is not allowed");
  unsetenv(kClusterTaskEnvironmentVariable);
  absl::SetFlag(&FLAGS_debugger_command, "/usr/bin/gdb -p 1");
  EXPECT_EQ(DebuggerCommand(), "/usr/bin/gdb -p 1");
  absl::SetFlag(&FLAGS_debugger_command, "");
}

TEST(StackDumpTest, FrameLimitAndSymbolizationFollowTheirFlags) {
  absl::SetFlag(&FLAGS_dump_stack_frames_limit, 2);
  absl::SetFlag(&FLAGS_symbolize_stacktrace, false);
  testing::internal::CaptureStderr();
  DumpStackTraceToStderr(0);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, ::testing::MatchesRegex("#0 0x[0-9a-f]{12,}\n"
                                           "#1 0x[0-9a-f]{12,}\n"));
  absl::SetFlag(&FLAGS_dump_stack_frames_limit, 128);
  absl::SetFlag(&FLAGS_symbolize_stacktrace, true);
  testing::internal::CaptureStderr();
  DumpStackTraceToStderr(0);
  out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, HasSubstr("StackDumpTest_FrameLimitAndSymbolization"));
  EXPECT_EQ(kelm_log::StackTraceFrameLimit(), 128);
}

TEST(StackDumpDeathTest, FatalRecordTraceFollowsTheFlags) {
  EXPECT_DEATH(
      {
        absl::SetFlag(&FLAGS_dump_stack_frames_limit, 1);
        absl::SetFlag(&FLAGS_symbolize_stacktrace, false);
        LOG(FATAL) << "flagged";
      },
      " flagged\n\\*\\*\\* Check failure stack trace: \\*\\*\\*\n"
      "#0 0x[0-9a-f]{12,}\n$");
  EXPECT_DEATH(
      {
        absl::SetFlag(&FLAGS_dump_stack_frames_limit, 128);
        absl::SetFlag(&FLAGS_symbolize_stacktrace, true);
        LOG(FATAL) << "flagged";
      },
      " flagged\n\\*\\*\\* Check failure stack trace: \\*\\*\\*\n"
      "(#[0-9]+ 0x[0-9a-f]{12,} [^\n]+\n)*"
      "#[0-9]+ 0x[0-9a-f]{12,} [^\n]*StackDumpDeathTest_"
      "FatalRecordTraceFollowsTheFlags_Test::TestBody\\(\\)\n");
}

}  // namespace
}  // namespace base

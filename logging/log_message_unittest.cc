#include "logging/log_message.h"

#include <string>

#include "absl/flags/flag.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "logging/log.h"
#include "logging/log_flags.h"

namespace kelm_log {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The prefix of a record written from this file.
constexpr char kPrefixRe[] =
    "^[IWE]0000 00:00:[0-9]+\\.[0-9]{6} [ 0-9]{6}[0-9]+ "
    "log_message_unittest\\.cc:[0-9]+\\] ";

TEST(LogMessageTest, RecordCarriesPrefixAndText) {
  testing::internal::CaptureStderr();
  LOG(INFO) << "hello " << 42;
  const int line = __LINE__ - 1;
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, ContainsRegex(std::string(kPrefixRe) + "hello 42\n$"));
  EXPECT_THAT(out, HasSubstr(":" + std::to_string(line) + "] "));
}

TEST(LogMessageTest, EveryLevelGoesToStderr) {
  testing::internal::CaptureStderr();
  LOG(INFO) << "i";
  LOG(WARNING) << "w";
  LOG(ERROR) << "e";
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, ContainsRegex("^I0000[^\n]*\\] i\nW0000[^\n]*\\] w\n"
                                 "E0000[^\n]*\\] e\n$"));
}

TEST(LogMessageTest, MinLogLevelDropsLowerRecords) {
  absl::SetFlag(&FLAGS_minloglevel, 2);
  testing::internal::CaptureStderr();
  LOG(INFO) << "dropped";
  LOG(WARNING) << "dropped";
  LOG(ERROR) << "kept";
  std::string out = testing::internal::GetCapturedStderr();
  absl::SetFlag(&FLAGS_minloglevel, 0);
  EXPECT_THAT(out, Not(HasSubstr("dropped")));
  EXPECT_THAT(out, HasSubstr("kept"));
}

TEST(LogMessageTest, VlogFollowsVerbosity) {
  testing::internal::CaptureStderr();
  VLOG(1) << "quiet";
  absl::SetFlag(&FLAGS_v, 1);
  VLOG(1) << "loud";
  VLOG(2) << "quiet";
  absl::SetFlag(&FLAGS_v, 0);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, Not(HasSubstr("quiet")));
  EXPECT_THAT(out, ContainsRegex("^I0000[^\n]*\\] loud\n$"));
}

TEST(LogMessageTest, StreamIsNotEvaluatedWhenDropped) {
  int evaluated = 0;
  auto side_effect = [&] { return ++evaluated; };
  testing::internal::CaptureStderr();
  VLOG(5) << side_effect();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(evaluated, 0);
}

TEST(LogMessageTest, MultiLineTextIsOneRecord) {
  testing::internal::CaptureStderr();
  LOG(INFO) << "first" << std::endl << "second";
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, ContainsRegex("^I0000[^\n]*\\] first\nsecond\n$"));
}

TEST(LogMessageTest, AtLocationRenamesFileAndLine) {
  testing::internal::CaptureStderr();
  {
    LogMessage record(__FILE__, __LINE__, LogSeverity::kWarning);
    record.AtLocation("some/dir/other.cc", 99).stream() << "moved";
  }
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, ContainsRegex(" other\\.cc:99\\] moved\n$"));
}

TEST(LogMessageDeathTest, FatalWritesStackTraceAndAborts) {
  EXPECT_DEATH(LOG(FATAL) << "boom",
               "F0000 00:00:[0-9.]+ +[0-9]+ log_message_unittest\\.cc:[0-9]+\\]"
               " boom\n\\*\\*\\* Check failure stack trace: \\*\\*\\*\n"
               "#0 0x[0-9a-f]{12,} [^\n]+\n"
               "(#[0-9]+ [^\n]+\n)*"
               "#[0-9]+ 0x[0-9a-f]{12,} [^\n]*LogMessageDeathTest_"
               "FatalWritesStackTraceAndAborts_Test::TestBody\\(\\)\n");
}

// The fatal trace follows the symbolisation switch and the frame limit that
// the framework's flags set. The trace is the last thing written, so each
// pattern ends at the end of the child's output.
TEST(LogMessageDeathTest, FatalTraceFollowsSymbolizationAndFrameLimit) {
  struct Case {
    bool symbolize;
    int32_t limit;
    const char* trace_re;
  } cases[] = {
      {false, 2, "#0 0x[0-9a-f]{12,}\n#1 0x[0-9a-f]{12,}\n$"},
      {false, 1, "#0 0x[0-9a-f]{12,}\n$"},
      {true, 3, "(#[0-9] 0x[0-9a-f]{12,} [^\n]+\n){3}$"},
      {true, 0, "$"},
      {false, -1, "$"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "symbolize " << c.symbolize
                                    << ", limit " << c.limit);
    EXPECT_DEATH(
        {
          SetSymbolizeStackTrace(c.symbolize);
          SetStackTraceFrameLimit(c.limit);
          LOG(FATAL) << "limited";
        },
        std::string(" limited\n\\*\\*\\* Check failure stack trace: "
                    "\\*\\*\\*\n") +
            c.trace_re);
  }
}

[[gnu::noinline]] void FailAtDepth(int depth) {
  if (depth > 0) {
    FailAtDepth(depth - 1);
    asm volatile("" ::: "memory");  // Not a tail call: keep every frame.
    return;
  }
  LOG(FATAL) << "deep";
}

TEST(LogMessageDeathTest, FatalTraceStopsAtTheDefaultFrameLimit) {
  ASSERT_EQ(StackTraceFrameLimit(), 128);
  EXPECT_DEATH(
      {
        SetSymbolizeStackTrace(false);
        FailAtDepth(200);
      },
      " deep\n\\*\\*\\* Check failure stack trace: \\*\\*\\*\n"
      "(#[0-9]+ 0x[0-9a-f]{12,}\n){127}#127 0x[0-9a-f]{12,}\n$");
}

TEST(LogMessageDeathTest, FatalIsWrittenEvenAboveMinLogLevel) {
  EXPECT_DEATH(
      {
        absl::SetFlag(&FLAGS_minloglevel, 5);
        LOG(FATAL) << "still here";
      },
      "still here");
}

TEST(LogFlagsTest, BoolFromEnv) {
  struct Case {
    const char* value;
    bool expected;
  } cases[] = {{nullptr, false}, {"", false},     {"1", true},
               {"true", true},   {"Yes", true},   {"0", false},
               {"false", false}, {"nope", false}};
  for (const Case& c : cases) {
    if (c.value == nullptr) {
      unsetenv("KELM_LOG_TEST_VAR");
    } else {
      setenv("KELM_LOG_TEST_VAR", c.value, 1);
    }
    EXPECT_EQ(BoolFromEnv("KELM_LOG_TEST_VAR"), c.expected)
        << (c.value ? c.value : "(unset)");
  }
  unsetenv("KELM_LOG_TEST_VAR");
}

TEST(LogFlagsTest, StderrThresholdFromEnv) {
  unsetenv("PLOVEX_LOGTOSTDERR");
  unsetenv("PLOVEX_ALSOLOGTOSTDERR");
  unsetenv("PLOVEX_STDERRTHRESHOLD");
  EXPECT_EQ(StderrThresholdFromEnv(), 2);
  setenv("PLOVEX_STDERRTHRESHOLD", "WARNING", 1);
  EXPECT_EQ(StderrThresholdFromEnv(), 1);
  setenv("PLOVEX_STDERRTHRESHOLD", "3", 1);
  EXPECT_EQ(StderrThresholdFromEnv(), 3);
  setenv("PLOVEX_ALSOLOGTOSTDERR", "1", 1);
  EXPECT_EQ(StderrThresholdFromEnv(), 0);
  unsetenv("PLOVEX_ALSOLOGTOSTDERR");
  unsetenv("PLOVEX_STDERRTHRESHOLD");
}

TEST(LogFlagsDeathTest, UnparsableThresholdIsFatal) {
  setenv("PLOVEX_STDERRTHRESHOLD", "loud", 1);
  EXPECT_DEATH(StderrThresholdFromEnv(), "PLOVEX_STDERRTHRESHOLD");
  unsetenv("PLOVEX_STDERRTHRESHOLD");
}

TEST(LogFlagsTest, DefaultsOfFlagsWithoutEnvironment) {
  EXPECT_EQ(absl::GetFlag(FLAGS_minloglevel), 0);
  EXPECT_EQ(absl::GetFlag(FLAGS_v), 0);
  EXPECT_TRUE(absl::GetFlag(FLAGS_log_prefix));
  EXPECT_TRUE(absl::GetFlag(FLAGS_threaded_logging));
  EXPECT_THAT(absl::GetFlag(FLAGS_vmodule), IsEmpty());
  EXPECT_THAT(absl::GetFlag(FLAGS_log_backtrace_at), IsEmpty());
}

}  // namespace
}  // namespace kelm_log

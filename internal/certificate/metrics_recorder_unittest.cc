#include "internal/certificate/metrics_recorder.h"

#include <chrono>
#include <string>
#include <thread>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "internal/certificate/quelfin_logging_adapter.h"
#include "internal/certificate/timed_log_throttle.h"

namespace vantorel {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

TEST(MetricsRecorderTest, NoRecorderIsInstalled) {
  EXPECT_EQ(MetricsRecorder::GetInstance(), nullptr);
}

TEST(MetricsRecorderTest, ActionAtVerbosityZeroIsOneInfoRecord) {
  testing::internal::CaptureStderr();
  RecordAction("Kelm.Sign.Error.SignatureEmpty", nullptr, 0);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_THAT(log, testing::MatchesRegex(
                       "I[^\n]* metrics_recorder.cc:[0-9]+\\] kelm event: "
                       "Kelm.Sign.Error.SignatureEmpty\n"));
}

TEST(MetricsRecorderTest, VerbosityOneReachesNoLogAtDefaultLevel) {
  testing::internal::CaptureStderr();
  RecordTimeHistogram("Kelm.X.TimeInMs", 5, 0, 15000, 30, 1);
  RecordEvent("Kelm.Y", nullptr, 1, "prefix ");
  EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty());
}

TEST(MetricsRecorderTest, HistogramAtVerbosityZeroPrintsMaximumBeforeMinimum) {
  testing::internal::CaptureStderr();
  RecordTimeHistogram("Kelm.X.TimeInMs", 5, 0, 15000, 30, 0);
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("] Time histogram: Kelm.X.TimeInMs, sample=5, "
                        "max=15000, min=0, num_buckets=30\n"));
}

TEST(TimedLogThrottleTest, ResetThenAskedAtOnceSaysNo) {
  TimedLogThrottle throttle;
  throttle.Reset();
  EXPECT_FALSE(throttle.ShouldLog(1.0));
}

TEST(TimedLogThrottleTest, OncePerPeriodAfterFirstAnswer) {
  TimedLogThrottle throttle;
  throttle.Reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_TRUE(throttle.ShouldLog(1.0));
  EXPECT_FALSE(throttle.ShouldLog(1.0));
  std::this_thread::sleep_for(std::chrono::milliseconds(1010));
  EXPECT_TRUE(throttle.ShouldLog(1.0));
}

struct SeverityCase {
  int severity;
  char letter;
};

TEST(LogAdapterTest, SeveritiesMapToRecordLevels) {
  const SeverityCase cases[] = {{-1, 'I'}, {0, 'I'}, {1, 'W'}, {2, 'E'}};
  for (const SeverityCase& c : cases) {
    testing::internal::CaptureStderr();
    logging::LogMessage("dir/some_file.cc", 42, c.severity).stream()
        << "text " << c.severity;
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_FALSE(log.empty()) << c.severity;
    EXPECT_EQ(log[0], c.letter) << log;
    EXPECT_THAT(log, HasSubstr("some_file.cc:42] text " +
                               std::to_string(c.severity) + "\n"));
  }
}

TEST(LogAdapterDeathTest, FatalSeverityEndsTheProcess) {
  EXPECT_DEATH(
      { logging::LogMessage("f.cc", 1, 3).stream() << "fatal text"; },
      "fatal text");
}

TEST(LogAdapterDeathTest, SeverityOutsideRangeIsFatal) {
  EXPECT_DEATH({ logging::LogMessage("f.cc", 1, 4); },
               "Unexpected severity: 4");
  EXPECT_DEATH({ logging::LogMessage("f.cc", 1, -2); },
               "Unexpected severity: -2");
}

}  // namespace
}  // namespace vantorel

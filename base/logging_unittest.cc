#include "base/logging.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "absl/base/internal/raw_logging.h"
#include "absl/flags/flag.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "logging/log_flags.h"

namespace base {
namespace {

using ::testing::ContainsRegex;
using ::testing::IsEmpty;

std::string RawPrefix(absl::LogSeverity severity, const char* file, int line,
                      bool* written) {
  char buffer[400];
  char* cursor = buffer;
  int size = sizeof(buffer);
  *written = RawLogFilterAndPrefix(severity, file, line, &cursor, &size);
  EXPECT_EQ(static_cast<size_t>(cursor - buffer) + size, sizeof(buffer));
  return std::string(buffer, cursor);
}

TEST(RawLogHooksTest, PrefixEndsWithRawMarker) {
  bool written = false;
  std::string prefix =
      RawPrefix(absl::LogSeverity::kInfo, "dir/file.cc", 12, &written);
  EXPECT_TRUE(written);
  EXPECT_THAT(prefix, ContainsRegex("^I0000 00:00:[0-9]+\\.[0-9]{6} +[0-9]+ "
                                    "file\\.cc:12\\] RAW: $"));
}

TEST(RawLogHooksTest, BackslashAfterSlashStartsBaseName) {
  bool written = false;
  std::string prefix =
      RawPrefix(absl::LogSeverity::kError, "a/b\\c.cc", 3, &written);
  EXPECT_THAT(prefix, ContainsRegex(" c\\.cc:3\\] RAW: $"));
}

TEST(RawLogHooksTest, MinLogLevelDropsRawMessages) {
  absl::SetFlag(&FLAGS_minloglevel, 2);
  bool written = true;
  std::string prefix =
      RawPrefix(absl::LogSeverity::kWarning, "f.cc", 1, &written);
  absl::SetFlag(&FLAGS_minloglevel, 0);
  EXPECT_FALSE(written);
  EXPECT_THAT(prefix, IsEmpty());
}

TEST(RawLogHooksTest, RawLogLinesAreWrittenThroughTheHook) {
  testing::internal::CaptureStderr();
  ABSL_RAW_LOG(INFO, "raw %d", 5);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, ContainsRegex("^I0000 00:00:[0-9.]+ +[0-9]+ "
                                 "logging_unittest\\.cc:[0-9]+\\] RAW: raw 5"));
}

TEST(RawLogHooksTest, InstallingAgainChangesNothing) {
  InstallRawLogHooks();
  testing::internal::CaptureStderr();
  ABSL_RAW_LOG(WARNING, "again");
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, ContainsRegex("^W0000[^\n]*RAW: again"));
}

TEST(RawLogHooksTest, PrefixIsCutToTheRoomLeft) {
  bool written = false;
  const std::string full =
      RawPrefix(absl::LogSeverity::kInfo, "dir/file.cc", 12, &written);
  for (int room : {1, 2, 10, 30}) {
    char buffer[64];
    memset(buffer, '#', sizeof(buffer));
    char* cursor = buffer;
    int size = room;
    EXPECT_TRUE(RawLogFilterAndPrefix(absl::LogSeverity::kInfo, "dir/file.cc",
                                      12, &cursor, &size));
    // One byte stays for the NUL; nothing past the room is touched.
    EXPECT_EQ(cursor - buffer, room - 1) << room;
    EXPECT_EQ(size, 1) << room;
    EXPECT_EQ(buffer[room - 1], '\0') << room;
    EXPECT_EQ(buffer[room], '#') << room;
    // The clock moves between the two calls; compare up to the time.
    const size_t fixed = std::min<size_t>(room - 1, 12);
    EXPECT_EQ(std::string(buffer, fixed), full.substr(0, fixed)) << room;
  }
  char untouched = '#';
  char* cursor = &untouched;
  int size = 0;
  EXPECT_TRUE(RawLogFilterAndPrefix(absl::LogSeverity::kInfo, "f.cc", 1,
                                    &cursor, &size));
  EXPECT_EQ(cursor, &untouched);
  EXPECT_EQ(untouched, '#');
}

TEST(ForwardAbslInternalLogTest, SeverityIsClampedAndCallerNamed) {
  struct Case {
    int severity;
    char letter;
  } cases[] = {{-1, 'I'}, {0, 'I'}, {1, 'W'}, {2, 'E'}, {7, 'E'}};
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    ForwardAbslInternalLog(static_cast<absl::LogSeverity>(c.severity),
                           "x/caller.cc", 77, "internal");
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_THAT(out, ContainsRegex(std::string("^") + c.letter +
                                   "0000[^\n]* caller\\.cc:77\\] internal\n$"))
        << c.severity;
  }
}

TEST(ForwardAbslInternalLogTest, MissingFileNameIsEmpty) {
  testing::internal::CaptureStderr();
  ForwardAbslInternalLog(absl::LogSeverity::kInfo, nullptr, 5, "nofile");
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, ContainsRegex("[0-9] :5\\] nofile\n$"));
}

TEST(RawLogHooksDeathTest, RawFatalDumpsStackAndAborts) {
  EXPECT_DEATH(ABSL_RAW_LOG(FATAL, "raw fatal"),
               "RAW: raw fatal\n(.|\n)*#[0-9]+ 0x");
}

}  // namespace
}  // namespace base

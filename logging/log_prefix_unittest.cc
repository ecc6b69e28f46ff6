#include "logging/log_prefix.h"

#include <string>

#include "gtest/gtest.h"

namespace kelm_log {
namespace {

TEST(LogPrefixTest, FormatsEveryField) {
  struct Case {
    LogSeverity severity;
    int64_t seconds;
    int32_t micros;
    pid_t tid;
    const char* file;
    int line;
    const char* expected;
  } cases[] = {
      {LogSeverity::kInfo, 1765370000, 42, 1234, "main.cc", 7,
       "I0000 00:00:1765370000.000042    1234 main.cc:7] "},
      {LogSeverity::kWarning, 0, 999999, 7654321, "a.cc", 100,
       "W0000 00:00:0.999999 7654321 a.cc:100] "},
      {LogSeverity::kError, 5, 0, 12345678, "b.cc", 1,
       "E0000 00:00:5.000000 12345678 b.cc:1] "},
      {LogSeverity::kFatal, 17, 123456, 1, "string_piece.h", 117,
       "F0000 00:00:17.123456       1 string_piece.h:117] "},
  };
  for (const Case& c : cases) {
    char buf[kMaxLogPrefixSize];
    size_t n = FormatLogPrefix(c.severity, c.seconds, c.micros, c.tid, c.file,
                               c.line, buf, sizeof(buf));
    EXPECT_EQ(std::string(buf, n), c.expected);
  }
}

TEST(LogPrefixTest, TooSmallBufferWritesNothing) {
  char buf[8] = "xxxxxxx";
  EXPECT_EQ(FormatLogPrefix(LogSeverity::kInfo, 1, 1, 1, "f.cc", 1, buf,
                            sizeof(buf)),
            0u);
  EXPECT_EQ(buf[0], '\0');
}

TEST(LogPrefixTest, BaseNameTakesTextAfterLastSeparator) {
  EXPECT_STREQ(BaseName("a/b/c.cc"), "c.cc");
  EXPECT_STREQ(BaseName("c.cc"), "c.cc");
  EXPECT_STREQ(BaseName("dir/x\\y.cc"), "y.cc");
  EXPECT_STREQ(BaseName("dir/"), "");
  EXPECT_STREQ(BaseName(nullptr), "");
}

TEST(LogPrefixTest, SeverityLetters) {
  EXPECT_EQ(SeverityLetter(LogSeverity::kInfo), 'I');
  EXPECT_EQ(SeverityLetter(LogSeverity::kWarning), 'W');
  EXPECT_EQ(SeverityLetter(LogSeverity::kError), 'E');
  EXPECT_EQ(SeverityLetter(LogSeverity::kFatal), 'F');
  EXPECT_EQ(SeverityLetter(static_cast<LogSeverity>(7)), 'E');
  EXPECT_EQ(SeverityLetter(static_cast<LogSeverity>(-1)), 'I');
}

}  // namespace
}  // namespace kelm_log

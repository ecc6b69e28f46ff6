#include "logging/check.h"

#include <cerrno>
#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace kelm_log {
namespace {

TEST(CheckTest, PassingChecksEvaluateOperandsOnce) {
  int calls = 0;
  auto next = [&] { return ++calls; };
  CHECK(next() == 1);
  CHECK_EQ(next(), 2);
  CHECK_NE(next(), 0);
  CHECK_LT(next(), 5);
  CHECK_LE(next(), 5);
  CHECK_GT(next(), 5);
  CHECK_GE(next(), 7);
  QCHECK(next() == 8);
  EXPECT_EQ(calls, 8);
}

TEST(CheckTest, WorksAsOnlyStatementOfAnIf) {
  bool reached_else = false;
  if (false)
    CHECK(false);
  else
    reached_else = true;
  EXPECT_TRUE(reached_else);
}

TEST(CheckDeathTest, PlainCheckReportsExpressionAndNothingElse) {
  const char* s = nullptr;
  EXPECT_DEATH(CHECK(s),
               "F0000 00:00:[0-9.]+ +[0-9]+ check_unittest\\.cc:[0-9]+\\] "
               "Check failed: s\n\\*\\*\\* Check failure stack trace");
}

TEST(CheckDeathTest, ComparisonsReportBothValues) {
  size_t pos = 7;
  std::string text = "abc";
  EXPECT_DEATH(CHECK_LT(pos, text.size()),
               "Check failed: pos < text.size\\(\\) \\(7 vs\\. 3\\)");
  EXPECT_DEATH(CHECK_EQ(std::string("a"), std::string("b")),
               "Check failed: std::string\\(\"a\"\\) == std::string\\(\"b\"\\) "
               "\\(a vs\\. b\\)");
  EXPECT_DEATH(CHECK_GE(1, 2), "Check failed: 1 >= 2 \\(1 vs\\. 2\\)");
  EXPECT_DEATH(CHECK_NE(3, 3), "Check failed: 3 != 3 \\(3 vs\\. 3\\)");
}

// One space sets streamed text off from the failure, only when there is
// streamed text; an empty insertion adds nothing.
TEST(CheckDeathTest, StreamedTextFollowsTheFailureAfterOneSpace) {
  struct Case {
    const char* name;
    void (*fail)();
    const char* record;
  } cases[] = {
      {"plain with text", [] { CHECK(1 == 2) << "extra " << 5; },
       "Check failed: 1 == 2 extra 5\n"},
      {"plain with empty text", [] { CHECK(1 == 2) << ""; },
       "Check failed: 1 == 2\n"},
      {"comparison", [] { CHECK_EQ(1, 2); },
       "Check failed: 1 == 2 \\(1 vs\\. 2\\)\n"},
      {"comparison with text", [] { CHECK_EQ(1, 2) << "why"; },
       "Check failed: 1 == 2 \\(1 vs\\. 2\\) why\n"},
      {"errno form", [] {
         errno = ENOENT;
         PCHECK(false);
       },
       "Check failed: false: No such file or directory \\[2\\]\n"},
  };
  for (const Case& c : cases) {
    EXPECT_DEATH(c.fail(), c.record) << c.name;
  }
}

// QCHECK writes the same record as CHECK, then ends the process with
// _exit(1): the record is the last thing written, with no stack trace after
// it, and no abort.
TEST(CheckDeathTest, QuietCheckWritesOnlyTheRecordAndExits) {
  struct Case {
    const char* name;
    void (*fail)();
    const char* record;
  } cases[] = {
      {"plain", [] { QCHECK(1 == 2); },
       "F0000 00:00:[0-9.]+ +[0-9]+ check_unittest\\.cc:[0-9]+\\] "
       "Check failed: 1 == 2\n$"},
      {"with text", [] { QCHECK(1 == 2) << "why " << 3; },
       "\\] Check failed: 1 == 2 why 3\n$"},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(c.fail(), testing::ExitedWithCode(1),
                testing::AllOf(testing::ContainsRegex(c.record),
                               testing::Not(testing::HasSubstr("stack trace"))))
        << c.name;
  }
}

enum class Color { kRed = 1, kBlue = 2 };

TEST(CheckDeathTest, OperandsWithoutStreamOperatorStillPrint) {
  EXPECT_DEATH(CHECK_EQ(Color::kRed, Color::kBlue),
               "\\(1 vs\\. 2\\)");
  EXPECT_DEATH(CHECK_EQ(static_cast<char>(65), static_cast<char>(66)),
               "\\(65 vs\\. 66\\)");
}

}  // namespace
}  // namespace kelm_log

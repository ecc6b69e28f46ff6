#include "logging/check.h"

#include <cerrno>
#include <string>

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
  EXPECT_EQ(calls, 7);
}

TEST(CheckTest, WorksAsOnlyStatementOfAnIf) {
  bool reached_else = false;
  if (false)
    CHECK(false);
  else
    reached_else = true;
  EXPECT_TRUE(reached_else);
}

TEST(CheckDeathTest, PlainCheckReportsExpression) {
  const char* s = nullptr;
  EXPECT_DEATH(CHECK(s),
               "F0000 00:00:[0-9.]+ +[0-9]+ check_unittest\\.cc:[0-9]+\\] "
               "Check failed: s \n\\*\\*\\* Check failure stack trace");
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

TEST(CheckDeathTest, StreamedTextFollowsTheFailure) {
  EXPECT_DEATH(CHECK(1 == 2) << "extra " << 5,
               "Check failed: 1 == 2 extra 5");
}

TEST(CheckDeathTest, PcheckAddsErrno) {
  EXPECT_DEATH(
      {
        errno = ENOENT;
        PCHECK(false);
      },
      "Check failed: false: No such file or directory \\[2\\]");
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

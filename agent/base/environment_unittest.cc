#include "agent/base/environment.h"

#include <stdlib.h>

#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// Clears the variables a test uses before and after it.
class EnvironmentTest : public testing::Test {
 protected:
  static constexpr const char* kNames[] = {
      "KELM_ENV_TEST", "kelm_env_test", "Kelm_Env_Test", "KELM_env_TEST",
      "_kelm_env_test", "_KELM_ENV_TEST", "9kelm", "9KELM"};
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    for (const char* name : kNames) unsetenv(name);
  }
  std::unique_ptr<Environment> env_ = Environment::Create();
};

TEST_F(EnvironmentTest, ExactNameIsFound) {
  setenv("KELM_ENV_TEST", "v", 1);
  std::string value;
  EXPECT_TRUE(env_->GetVar("KELM_ENV_TEST", &value));
  EXPECT_EQ(value, "v");
  EXPECT_TRUE(env_->GetVar("KELM_ENV_TEST", nullptr));
  EXPECT_TRUE(env_->HasVar("KELM_ENV_TEST"));
}

TEST_F(EnvironmentTest, MissRetriesInTheOtherCase) {
  std::string value;
  setenv("kelm_env_test", "lower", 1);
  EXPECT_TRUE(env_->GetVar("KELM_ENV_TEST", &value));
  EXPECT_EQ(value, "lower");
  unsetenv("kelm_env_test");

  setenv("KELM_ENV_TEST", "upper", 1);
  EXPECT_TRUE(env_->GetVar("kelm_env_test", &value));
  EXPECT_EQ(value, "upper");
}

TEST_F(EnvironmentTest, MixedCaseRetriesOnlyOneForm) {
  // A name starting in lower case is retried only all upper case.
  setenv("kelm_env_test", "lower", 1);
  EXPECT_FALSE(env_->HasVar("kelm_Env_Test"));
  setenv("KELM_ENV_TEST", "upper", 1);
  std::string value;
  EXPECT_TRUE(env_->GetVar("kelm_Env_Test", &value));
  EXPECT_EQ(value, "upper");
}

TEST_F(EnvironmentTest, NamesNotStartingWithALetterAreNotRetried) {
  setenv("_KELM_ENV_TEST", "x", 1);
  setenv("9KELM", "x", 1);
  EXPECT_FALSE(env_->HasVar("_kelm_env_test"));
  EXPECT_FALSE(env_->HasVar("9kelm"));
}

TEST_F(EnvironmentTest, NameViewNeedNotEndInNul) {
  setenv("KELM_ENV_TEST", "found", 1);
  const char buffer[] = "KELM_ENV_TESTXYZ";
  std::string value;
  EXPECT_TRUE(env_->GetVar(StringPiece(buffer, 13), &value));
  EXPECT_EQ(value, "found");
  EXPECT_TRUE(env_->SetVar(StringPiece(buffer, 13), "set"));
  EXPECT_STREQ(getenv("KELM_ENV_TEST"), "set");
  EXPECT_TRUE(env_->UnsetVar(StringPiece(buffer, 13)));
  EXPECT_EQ(getenv("KELM_ENV_TEST"), nullptr);
}

TEST_F(EnvironmentTest, SetOverwritesAndUnsetRemoves) {
  EXPECT_TRUE(env_->SetVar("KELM_ENV_TEST", "1"));
  EXPECT_TRUE(env_->SetVar("KELM_ENV_TEST", "2"));
  std::string value;
  EXPECT_TRUE(env_->GetVar("KELM_ENV_TEST", &value));
  EXPECT_EQ(value, "2");
  EXPECT_TRUE(env_->UnsetVar("KELM_ENV_TEST"));
  EXPECT_FALSE(env_->HasVar("KELM_ENV_TEST"));
}

TEST_F(EnvironmentTest, EmptyValueCountsAsSet) {
  setenv("KELM_ENV_TEST", "", 1);
  std::string value = "stale";
  EXPECT_TRUE(env_->GetVar("KELM_ENV_TEST", &value));
  EXPECT_EQ(value, "");
}

TEST(EnvironmentDeathTest, EmptyNameIsFatal) {
  auto env = Environment::Create();
  EXPECT_DEATH(env->GetVar("", nullptr), "Check failed: pos < size\\(\\)");
}

}  // namespace
}  // namespace kelmbase

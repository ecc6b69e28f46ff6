#include "agent/base/task/sequence_token.h"

#include <thread>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(SequenceTokenTest, EqualityHoldsOnlyForEqualValidTokens) {
  const SequenceToken invalid;
  const SequenceToken a = SequenceToken::Create();
  const SequenceToken a_copy = a;
  const SequenceToken b = SequenceToken::Create();

  EXPECT_FALSE(invalid.IsValid());
  EXPECT_EQ(invalid.ToInternalValue(), -1);
  EXPECT_TRUE(a.IsValid());
  EXPECT_TRUE(b.IsValid());

  EXPECT_TRUE(a == a_copy);
  EXPECT_FALSE(a != a_copy);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a != b);
  // Two invalid tokens are neither equal nor "not different".
  EXPECT_FALSE(invalid == SequenceToken());
  EXPECT_TRUE(invalid != SequenceToken());
  EXPECT_TRUE(invalid != a);
  EXPECT_TRUE(a != invalid);
}

TEST(SequenceTokenTest, CurrentTokensAreInvalidUnlessSet) {
  EXPECT_FALSE(SequenceToken::GetForCurrentThread().IsValid());
  EXPECT_FALSE(TaskToken::GetForCurrentThread().IsValid());
}

TEST(SequenceTokenTest, ScopedSetterMakesTheTokensCurrentOnThisThreadOnly) {
  const SequenceToken token = SequenceToken::Create();
  TaskToken first_task;
  {
    ScopedSetSequenceTokenForCurrentThread scope(token);
    EXPECT_TRUE(SequenceToken::GetForCurrentThread() == token);
    first_task = TaskToken::GetForCurrentThread();
    EXPECT_TRUE(first_task.IsValid());

    bool valid_elsewhere = true;
    std::thread other([&] {
      valid_elsewhere = SequenceToken::GetForCurrentThread().IsValid() ||
                        TaskToken::GetForCurrentThread().IsValid();
    });
    other.join();
    EXPECT_FALSE(valid_elsewhere);
  }
  EXPECT_FALSE(SequenceToken::GetForCurrentThread().IsValid());
  EXPECT_FALSE(TaskToken::GetForCurrentThread().IsValid());

  // Each scope is a new task of the sequence.
  ScopedSetSequenceTokenForCurrentThread again(token);
  EXPECT_TRUE(SequenceToken::GetForCurrentThread() == token);
  EXPECT_TRUE(TaskToken::GetForCurrentThread() != first_task);
}

}  // namespace
}  // namespace kelmbase

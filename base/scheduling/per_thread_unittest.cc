#include "base/scheduling/per_thread.h"

#include <pthread.h>

#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace {

std::vector<int>* g_log = nullptr;
int g_first_key = 0;
int g_second_key = 0;
int g_refill_key = 0;
int g_refills_left = 0;

void LogFirst(void* value) { g_log->push_back(*static_cast<int*>(value)); }

// Stores into another slot while being destroyed, once.
void DestroyAndFillSecond(void* value) {
  g_log->push_back(*static_cast<int*>(value));
  static int second_value = 200;
  PerThread::Set(g_second_key, &second_value);
}

void LogSecond(void* value) { g_log->push_back(*static_cast<int*>(value)); }

// Keeps refilling its own slot, so only the pass limit stops it.
void Refill(void* value) {
  g_log->push_back(*static_cast<int*>(value));
  --g_refills_left;
  PerThread::Set(g_refill_key, value);
}

template <typename F>
void RunOnThread(F body) {
  pthread_t thread;
  static F* stored;
  stored = &body;
  ASSERT_EQ(pthread_create(
                &thread, nullptr,
                [](void*) -> void* {
                  (*stored)();
                  return nullptr;
                },
                nullptr),
            0);
  pthread_join(thread, nullptr);
}

TEST(PerThreadTest, KeysAreSlotOffsetsGivenOnce) {
  int key = 0;
  PerThread::NewKey(&key, nullptr);
  EXPECT_GT(key, 0);
  EXPECT_EQ(key % static_cast<int>(sizeof(void*)), 0);
  const int first = key;
  PerThread::NewKey(&key, nullptr);
  EXPECT_EQ(key, first);
  int next = 0;
  PerThread::NewKey(&next, nullptr);
  EXPECT_EQ(next, first + static_cast<int>(sizeof(void*)));
}

TEST(PerThreadTest, DestructorsRunInPassesAtThreadExit) {
  std::vector<int> log;
  g_log = &log;
  PerThread::NewKey(&g_first_key, &DestroyAndFillSecond);
  PerThread::NewKey(&g_second_key, &LogSecond);
  static int first_value = 100;
  RunOnThread([] {
    PerThread::Set(g_first_key, &first_value);
    EXPECT_TRUE(PerThread::IsThreadInitialized());
  });
  // The second slot was filled during the first pass and destroyed in the
  // next one.
  EXPECT_THAT(log, testing::ElementsAre(100, 200));
}

TEST(PerThreadTest, ValuesLeftAfterFourPassesAreLeftAlone) {
  std::vector<int> log;
  g_log = &log;
  PerThread::NewKey(&g_refill_key, &Refill);
  static int value = 7;
  g_refills_left = 100;
  RunOnThread([] { PerThread::Set(g_refill_key, &value); });
  EXPECT_THAT(log, testing::ElementsAre(7, 7, 7, 7));
}

TEST(PerThreadTest, ExitListRunsNewestFirst) {
  std::vector<int> log;
  g_log = &log;
  static int a = 1, b = 2;
  static PerThread::ExitNode first_node, second_node;
  RunOnThread([] {
    first_node.argument = &a;
    PerThread::AtThreadExit(&first_node, &LogFirst);
    second_node.argument = &b;
    PerThread::AtThreadExit(&second_node, &LogFirst);
  });
  EXPECT_THAT(log, testing::ElementsAre(2, 1));
  EXPECT_EQ(first_node.argument, nullptr);
}

TEST(PerThreadDeathTest, The64thKeyIsFatal) {
  EXPECT_DEATH(
      {
        for (int i = 0; i < PerThread::kPerThreadSlots; ++i) {
          int key = 0;
          PerThread::NewKey(&key, nullptr);
        }
      },
      "Check next_free_key < kPerThreadSlots failed: too many PerThread "
      "keys in use");
}

}  // namespace

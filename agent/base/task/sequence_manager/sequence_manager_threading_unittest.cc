// Posting threads racing the manager's own thread.

#include <atomic>
#include <thread>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/task/sequence_manager/sequence_manager_impl.h"
#include "agent/base/task/sequence_manager/test/sequence_manager_for_test.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace sequence_manager {
namespace {

constexpr int kPosterThreads = 4;

// Counts tasks destroyed without having run; the task marks it as run.
struct Token {
  explicit Token(std::atomic<int>* destroyed_unrun)
      : destroyed_unrun(destroyed_unrun) {}
  Token(Token&& other)
      : destroyed_unrun(other.destroyed_unrun), ran(other.ran) {
    other.destroyed_unrun = nullptr;
  }
  ~Token() {
    if (destroyed_unrun && !ran) destroyed_unrun->fetch_add(1);
  }
  std::atomic<int>* destroyed_unrun;
  bool ran = false;
};

OneShotClosure CountedTask(int* ran, std::atomic<int>* destroyed_unrun) {
  return BindOneShot(
      [](int* ran, Token token) {
        token.ran = true;
        ++*ran;
      },
      ran, Token(destroyed_unrun));
}

TEST(SequenceManagerThreadingTest, ShutdownWhileOtherThreadsPost) {
  SequenceManagerForTest env;
  scoped_refptr<TaskQueue> queue =
      env.manager()->CreateTaskQueue(TaskQueue::Spec("racing"));
  scoped_refptr<SingleThreadTaskRunner> runner = queue->task_runner();

  int ran = 0;  // The manager's thread only.
  std::atomic<int> destroyed_unrun{0};
  std::atomic<int> accepted{0};
  std::atomic<int> refused{0};
  std::atomic<int> accepted_after_shutdown{0};
  std::atomic<bool> shutdown_done{false};

  std::vector<std::thread> posters;
  for (int t = 0; t < kPosterThreads; ++t) {
    posters.emplace_back([&, t] {
      int posts_after_shutdown = 0;
      for (int i = 0; posts_after_shutdown < 200; ++i) {
        const bool after_shutdown =
            shutdown_done.load(std::memory_order_acquire);
        // Some delayed posts too: from another thread they travel inside
        // an immediate task.
        const bool ok =
            (i + t) % 8 == 0
                ? runner->PostDelayedTask(FROM_HERE,
                                          CountedTask(&ran, &destroyed_unrun),
                                          Duration::FromMilliseconds(1))
                : runner->PostTask(FROM_HERE,
                                   CountedTask(&ran, &destroyed_unrun));
        (ok ? accepted : refused).fetch_add(1);
        if (after_shutdown) {
          ++posts_after_shutdown;
          if (ok) accepted_after_shutdown.fetch_add(1);
        }
      }
    });
  }

  // The posters never let the queue go idle: run one task at a time.
  while (accepted.load() < 4000) env.controller()->RunOneTask();
  queue->ShutdownTaskQueue();
  shutdown_done.store(true, std::memory_order_release);
  for (std::thread& poster : posters) poster.join();

  EXPECT_EQ(env.controller()->RunUntilIdle(), 0);
  EXPECT_EQ(accepted_after_shutdown.load(), 0);
  EXPECT_GT(ran, 0);
  // Every accepted task either ran or was destroyed unrun; refused ones
  // were destroyed unrun by their posters.
  EXPECT_EQ(accepted.load(), ran + destroyed_unrun.load() - refused.load());
}

TEST(SequenceManagerThreadingTest, ManyPostersWakeAnIdleQueueOnce) {
  SequenceManagerForTest env;
  scoped_refptr<TaskQueue> queue =
      env.manager()->CreateTaskQueue(TaskQueue::Spec("idle"));
  scoped_refptr<SingleThreadTaskRunner> runner = queue->task_runner();
  constexpr int kPostsPerThread = 500;
  // The manager's thread only: the last index seen from each poster, and
  // whether any poster's tasks ran out of its posting order.
  int last_index[kPosterThreads];
  bool out_of_order = false;
  int ran = 0;
  for (int round = 1; round <= 3; ++round) {
    for (int& index : last_index) index = -1;
    std::atomic<int> ready{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < kPosterThreads; ++t) {
      posters.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < kPosterThreads) std::this_thread::yield();
        for (int i = 0; i < kPostsPerThread; ++i) {
          EXPECT_TRUE(runner->PostTask(
              FROM_HERE, BindOneShot(
                             [](int* last, bool* out_of_order, int* ran,
                                int index) {
                               if (index != *last + 1) *out_of_order = true;
                               *last = index;
                               ++*ran;
                             },
                             &last_index[t], &out_of_order, &ran, i)));
        }
      });
    }
    for (std::thread& poster : posters) poster.join();
    EXPECT_EQ(env.controller()->schedule_work_count(), round);
    EXPECT_EQ(env.controller()->RunUntilIdle(),
              kPosterThreads * kPostsPerThread);
  }
  EXPECT_EQ(ran, 3 * kPosterThreads * kPostsPerThread);
  EXPECT_FALSE(out_of_order);
}

}  // namespace
}  // namespace sequence_manager
}  // namespace kelmbase

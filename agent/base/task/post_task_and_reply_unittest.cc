#include <atomic>
#include <utility>

#include "agent/base/functional/bind.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/task/sequenced_task_runner_handle.h"
#include "agent/base/task/task_runner.h"
#include "agent/base/task/thread_task_executor.h"
#include "agent/base/threading/thread.h"
#include "agent/base/threading/platform_thread.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

constexpr PlatformThreadId kNoThread = -1;

// Bound into a callback; records the thread on which the bound copy dies.
class DeathRecorder {
 public:
  explicit DeathRecorder(std::atomic<PlatformThreadId>* died_on)
      : died_on_(died_on) {}
  DeathRecorder(DeathRecorder&& other)
      : died_on_(std::exchange(other.died_on_, nullptr)) {}
  DeathRecorder& operator=(DeathRecorder&&) = delete;
  ~DeathRecorder() {
    if (died_on_ != nullptr)
      died_on_->store(PlatformThread::CurrentId(), std::memory_order_release);
  }

 private:
  std::atomic<PlatformThreadId>* died_on_;
};

// Records the thread it runs on.
OneShotClosure RecordRunOn(std::atomic<PlatformThreadId>* ran_on,
                           std::atomic<PlatformThreadId>* bound_died_on) {
  return BindOneShot(
      [](std::atomic<PlatformThreadId>* ran_on, DeathRecorder) {
        ran_on->store(PlatformThread::CurrentId(), std::memory_order_release);
      },
      ran_on, DeathRecorder(bound_died_on));
}

PlatformThreadId ThreadIdOf(Thread& thread) {
  std::atomic<PlatformThreadId> id{kNoThread};
  WaitableEvent done;
  thread.GetTaskRunner()->PostTask(
      FROM_HERE, BindOneShot(
                     [](std::atomic<PlatformThreadId>* id, WaitableEvent* done) {
                       id->store(PlatformThread::CurrentId());
                       done->Signal();
                     },
                     &id, &done));
  done.Wait();
  return id.load();
}

class PostTaskAndReplyTest : public testing::Test {
 public:
  PostTaskAndReplyTest() {
    origin_.Start();
    destination_.Start();
    origin_id_ = ThreadIdOf(origin_);
    destination_id_ = ThreadIdOf(destination_);
  }

  Thread origin_{"origin"};
  Thread destination_{"destination"};
  PlatformThreadId origin_id_ = kNoThread;
  PlatformThreadId destination_id_ = kNoThread;

  std::atomic<PlatformThreadId> task_ran_on_{kNoThread};
  std::atomic<PlatformThreadId> task_arg_died_on_{kNoThread};
  std::atomic<PlatformThreadId> reply_ran_on_{kNoThread};
  std::atomic<PlatformThreadId> reply_arg_died_on_{kNoThread};
};

TEST_F(PostTaskAndReplyTest, TaskRunsOnDestinationAndReplyBackOnOrigin) {
  WaitableEvent replied;
  std::atomic<bool> posted{false};
  origin_.GetTaskRunner()->PostTask(
      FROM_HERE,
      BindOneShot(
          [](PostTaskAndReplyTest* test, WaitableEvent* replied,
             std::atomic<bool>* posted) {
            OneShotClosure reply = BindOneShot(
                [](OneShotClosure record, WaitableEvent* replied) {
                  std::move(record).Run();
                  replied->Signal();
                },
                RecordRunOn(&test->reply_ran_on_, &test->reply_arg_died_on_),
                replied);
            posted->store(test->destination_.GetTaskRunner()->PostTaskAndReply(
                FROM_HERE,
                RecordRunOn(&test->task_ran_on_, &test->task_arg_died_on_),
                std::move(reply)));
          },
          this, &replied, &posted));
  replied.Wait();
  // Let both threads finish whatever follows the reply.
  origin_.Stop();
  destination_.Stop();

  EXPECT_TRUE(posted.load());
  EXPECT_EQ(task_ran_on_.load(), destination_id_);
  EXPECT_EQ(task_arg_died_on_.load(), destination_id_);
  EXPECT_EQ(reply_ran_on_.load(), origin_id_);
  EXPECT_EQ(reply_arg_died_on_.load(), origin_id_);
}

TEST_F(PostTaskAndReplyTest, ReplyDiesOnOriginWhenDestinationDropsTheTask) {
  // The destination is this thread's queue: it takes the task, and is shut
  // down, here, before running it.
  auto destination = std::make_unique<ThreadTaskExecutor>();
  scoped_refptr<SingleThreadTaskRunner> destination_runner =
      destination->task_runner();
  WaitableEvent posted;
  std::atomic<bool> accepted{false};
  origin_.GetTaskRunner()->PostTask(
      FROM_HERE,
      BindOneShot(
          [](PostTaskAndReplyTest* test, SingleThreadTaskRunner* destination,
             std::atomic<bool>* accepted, WaitableEvent* posted) {
            accepted->store(destination->PostTaskAndReply(
                FROM_HERE,
                RecordRunOn(&test->task_ran_on_, &test->task_arg_died_on_),
                RecordRunOn(&test->reply_ran_on_,
                            &test->reply_arg_died_on_)));
            posted->Signal();
          },
          this, destination_runner.get(), &accepted, &posted));
  posted.Wait();
  ASSERT_TRUE(accepted.load());

  // Shut down on the test thread: neither the origin's sequence nor one
  // the relay may die on.
  destination.reset();
  origin_.Stop();

  EXPECT_EQ(task_ran_on_.load(), kNoThread);
  EXPECT_EQ(reply_ran_on_.load(), kNoThread);
  // The unrun relay was sent home to die with everything it held.
  EXPECT_EQ(reply_arg_died_on_.load(), origin_id_);
  EXPECT_EQ(task_arg_died_on_.load(), origin_id_);
}

TEST_F(PostTaskAndReplyTest, RefusedPostDestroysBothAtOnceOnTheCaller) {
  // A runner whose queue is gone refuses every post.
  scoped_refptr<SingleThreadTaskRunner> destination =
      ThreadTaskExecutor().task_runner();
  WaitableEvent posted;
  std::atomic<bool> accepted{true};
  origin_.GetTaskRunner()->PostTask(
      FROM_HERE,
      BindOneShot(
          [](PostTaskAndReplyTest* test, SingleThreadTaskRunner* destination,
             std::atomic<bool>* accepted, WaitableEvent* posted) {
            accepted->store(destination->PostTaskAndReply(
                FROM_HERE,
                RecordRunOn(&test->task_ran_on_, &test->task_arg_died_on_),
                RecordRunOn(&test->reply_ran_on_,
                            &test->reply_arg_died_on_)));
            // Both died already, here.
            EXPECT_EQ(test->task_arg_died_on_.load(),
                      PlatformThread::CurrentId());
            EXPECT_EQ(test->reply_arg_died_on_.load(),
                      PlatformThread::CurrentId());
            posted->Signal();
          },
          this, destination.get(), &accepted, &posted));
  posted.Wait();
  origin_.Stop();
  EXPECT_FALSE(accepted.load());
  EXPECT_EQ(task_ran_on_.load(), kNoThread);
  EXPECT_EQ(reply_ran_on_.load(), kNoThread);
}

TEST(PostTaskAndReplyRefusedTest, RefusedPostNeedsNoSequencedContext) {
  scoped_refptr<SingleThreadTaskRunner> destination =
      ThreadTaskExecutor().task_runner();
  EXPECT_FALSE(destination->PostTaskAndReply(FROM_HERE, BindOneShot([] {}),
                                             BindOneShot([] {})));
}

TEST(PostTaskAndReplyDeathTest, AcceptedPostWithoutSequencedContextIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Thread destination("destination");
  destination.Start();
  EXPECT_DEATH(destination.GetTaskRunner()->PostTaskAndReply(FROM_HERE, BindOneShot([] {}),
                                             BindOneShot([] {})),
               "Check failed: has_sequenced_context \\|\\| "
               "!post_task_success");
}

}  // namespace
}  // namespace kelmbase

#include "agent/base/threading/platform_thread.h"

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(PlatformThreadTest, CurrentIdIsTheKernelThreadId) {
  EXPECT_EQ(static_cast<PlatformThreadId>(syscall(SYS_gettid)),
            PlatformThread::CurrentId());
  EXPECT_EQ(PlatformThread::CurrentId(), PlatformThread::CurrentId());
  EXPECT_TRUE(pthread_equal(pthread_self(),
                            PlatformThread::CurrentHandle().platform_handle()));
}

TEST(PlatformThreadTest, ForkedChildSeesItsOwnId) {
  const PlatformThreadId parent_id = PlatformThread::CurrentId();
  pid_t child = fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    PlatformThreadId id = PlatformThread::CurrentId();
    _exit(id == getpid() && id != parent_id ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(PlatformThreadTest, SleepWaitsAtLeastTheDuration) {
  const Duration kDelay = Duration::FromMilliseconds(20);
  const MonotonicTime start = MonotonicTime::Now();
  PlatformThread::Sleep(kDelay);
  EXPECT_GE(MonotonicTime::Now() - start, kDelay);
}

TEST(PlatformThreadTest, SleepOfNothingReturnsAtOnce) {
  const MonotonicTime start = MonotonicTime::Now();
  PlatformThread::Sleep(Duration());
  PlatformThread::Sleep(Duration::FromSeconds(-5));
  PlatformThread::Sleep(Duration::Min());
  EXPECT_LT(MonotonicTime::Now() - start, Duration::FromSeconds(1));
  PlatformThread::YieldCurrentThread();
}

}  // namespace
}  // namespace kelmbase

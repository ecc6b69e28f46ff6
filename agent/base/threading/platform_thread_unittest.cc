#include "agent/base/threading/platform_thread.h"

#include <errno.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <limits>
#include <string>

#include "agent/base/threading/thread_name_registry.h"
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

namespace kelmbase {
namespace {

class RecordingDelegate : public PlatformThread::Delegate {
 public:
  void RunThreadBody() override {
    id = PlatformThread::CurrentId();
    errno = 0;
    nice = getpriority(PRIO_PROCESS, 0);
    registered_name = ThreadNameRegistry::GetInstance()->GetName(id);
    PlatformThread::SetName("recorder");
    name_after_set = PlatformThread::GetName();
    ran.store(true);
  }

  PlatformThreadId id = 0;
  int nice = 0;
  std::string registered_name = "unset";
  std::string name_after_set;
  std::atomic<bool> ran{false};
};

TEST(PlatformThreadTest, CreateRunsTheDelegateOnANewRegisteredThread) {
  RecordingDelegate delegate;
  PlatformThreadHandle handle;
  ASSERT_TRUE(PlatformThread::Create(0, &delegate, &handle));
  EXPECT_FALSE(handle.is_null());
  PlatformThread::Join(handle);
  EXPECT_NE(0, delegate.id);
  EXPECT_NE(PlatformThread::CurrentId(), delegate.id);
  EXPECT_EQ("", delegate.registered_name);
  EXPECT_EQ("recorder", delegate.name_after_set);
  if (geteuid() == 0) {
    EXPECT_EQ(0, delegate.nice);
  }
  // Unregistered on exit: the id no longer has a name.
  EXPECT_STREQ("", ThreadNameRegistry::GetInstance()->GetName(delegate.id));
}

TEST(PlatformThreadTest, BackgroundPriorityLowersTheNiceValue) {
  errno = 0;
  const int own_nice = getpriority(PRIO_PROCESS, 0);
  RecordingDelegate delegate;
  PlatformThreadHandle handle;
  ASSERT_TRUE(PlatformThread::CreateWithPriority(256 * 1024, &delegate, &handle,
                                                 ThreadPriority::kBackground));
  PlatformThread::Join(handle);
  EXPECT_EQ(10, delegate.nice);
  // The creating thread keeps its own.
  errno = 0;
  EXPECT_EQ(own_nice, getpriority(PRIO_PROCESS, 0));
}

TEST(PlatformThreadTest, NonJoinableThreadRuns) {
  RecordingDelegate delegate;
  ASSERT_TRUE(PlatformThread::CreateNonJoinable(0, &delegate));
  while (!delegate.ran.load()) PlatformThread::YieldCurrentThread();
  EXPECT_NE(0, delegate.id);
}

TEST(PlatformThreadTest, FailedCreationLogsAndReturnsFalse) {
  RecordingDelegate delegate;
  PlatformThreadHandle handle(pthread_self());
  testing::internal::CaptureStderr();
  // A stack size no system can give.
  const bool created = PlatformThread::Create(
      std::numeric_limits<size_t>::max() / 2, &delegate, &handle);
  const std::string log = testing::internal::GetCapturedStderr();
  if (created) {
    PlatformThread::Join(handle);
    GTEST_SKIP() << "the system granted the stack";
  }
  EXPECT_TRUE(handle.is_null());
  EXPECT_NE(std::string::npos, log.find("] pthread_create: ")) << log;
  EXPECT_EQ(0, delegate.id);
}

TEST(PlatformThreadTest, PriorityTable) {
  EXPECT_EQ(10, internal::PriorityToNice(ThreadPriority::kBackground));
  EXPECT_EQ(0, internal::PriorityToNice(ThreadPriority::kNormal));
  EXPECT_EQ(-8, internal::PriorityToNice(ThreadPriority::kUrgent));
  EXPECT_EQ(-10, internal::PriorityToNice(ThreadPriority::kRealtime));
  EXPECT_EQ(0, internal::PriorityToNice(static_cast<ThreadPriority>(42)));
}

// Below the superuser, RLIMIT_NICE's soft limit n allows nice 20 - n and
// above; the superuser may take any nice value.
TEST(PlatformThreadTest, NiceLimitDecidesBelowTheSuperuser) {
  struct rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_NICE, &saved));
  const bool root = geteuid() == 0;
  struct rlimit limit = saved;
  limit.rlim_cur = 0;
  ASSERT_EQ(0, setrlimit(RLIMIT_NICE, &limit));
  EXPECT_EQ(root, PlatformThread::MayRaisePriority(ThreadPriority::kBackground));
  EXPECT_EQ(root, PlatformThread::MayRaisePriority(ThreadPriority::kUrgent));
  if (saved.rlim_max == RLIM_INFINITY || saved.rlim_max >= 10) {
    limit.rlim_cur = 10;  // nice 10 and above
    ASSERT_EQ(0, setrlimit(RLIMIT_NICE, &limit));
    EXPECT_TRUE(PlatformThread::MayRaisePriority(ThreadPriority::kBackground));
    EXPECT_EQ(root, PlatformThread::MayRaisePriority(ThreadPriority::kUrgent));
  }
  ASSERT_EQ(0, setrlimit(RLIMIT_NICE, &saved));
}

// A zero RLIMIT_RTPRIO does not forbid the real-time priority by itself:
// the nice limit decides then, which the superuser always passes.
TEST(PlatformThreadTest, RealtimeWithoutRtprioFallsBackToTheNiceLimit) {
  struct rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_RTPRIO, &saved));
  struct rlimit limit = saved;
  limit.rlim_cur = 0;
  ASSERT_EQ(0, setrlimit(RLIMIT_RTPRIO, &limit));
  const bool without_rtprio =
      PlatformThread::MayRaisePriority(ThreadPriority::kRealtime);
  bool with_rtprio = true;
  if (saved.rlim_max != 0) {
    limit.rlim_cur = 1;
    ASSERT_EQ(0, setrlimit(RLIMIT_RTPRIO, &limit));
    with_rtprio = PlatformThread::MayRaisePriority(ThreadPriority::kRealtime);
  }
  ASSERT_EQ(0, setrlimit(RLIMIT_RTPRIO, &saved));

  EXPECT_EQ(internal::MayLowerNiceTo(-10), without_rtprio);
  if (geteuid() == 0) {
    EXPECT_TRUE(without_rtprio);
  }
  EXPECT_TRUE(with_rtprio);
}

TEST(PlatformThreadTest, MissingCgroupDirectoriesAreSkipped) {
  struct stat info;
  if (stat("/sys/fs/cgroup/cpuset/ostrel", &info) == 0 ||
      stat("/sys/fs/cgroup/schedtune/ostrel", &info) == 0) {
    GTEST_SKIP() << "this machine has the product's cgroups";
  }
  RecordingDelegate delegate;
  PlatformThreadHandle handle;
  ASSERT_TRUE(PlatformThread::CreateWithPriority(0, &delegate, &handle,
                                                 ThreadPriority::kUrgent));
  PlatformThread::Join(handle);
  EXPECT_NE(0, stat("/sys/fs/cgroup/cpuset/ostrel", &info));
  EXPECT_NE(0, stat("/sys/fs/cgroup/schedtune/ostrel/urgent/tasks", &info));
}

TEST(PlatformThreadDeathTest, JoiningOneselfIsFatal) {
  EXPECT_DEATH(PlatformThread::Join(PlatformThread::CurrentHandle()),
               "Check failed: 0 == pthread_join\\(thread_handle.platform_handle"
               "\\(\\), nullptr\\) \\(0 vs. [0-9]+\\)");
}

}  // namespace
}  // namespace kelmbase

#include "agent/base/system/sys_info.h"

#include <sched.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(SysInfoTest, ProcessorCountIsTheAffinityMask) {
  const int count = GetProcessorCount();
  EXPECT_GE(count, 1);
  EXPECT_LE(count, sysconf(_SC_NPROCESSORS_CONF));
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof(set), &set), 0);
  EXPECT_EQ(count, CPU_COUNT(&set));
}

// Computed once: narrowing the affinity mask afterwards changes nothing.
TEST(SysInfoTest, ProcessorCountIsComputedOnce) {
  const int first = GetProcessorCount();
  cpu_set_t saved;
  ASSERT_EQ(sched_getaffinity(0, sizeof(saved), &saved), 0);
  if (CPU_COUNT(&saved) < 2) GTEST_SKIP() << "needs two usable processors";

  cpu_set_t one;
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &saved)) {
      CPU_SET(cpu, &one);
      break;
    }
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
  const int second = GetProcessorCount();
  ASSERT_EQ(sched_setaffinity(0, sizeof(saved), &saved), 0);
  EXPECT_EQ(second, first);
}

TEST(SysInfoTest, ThreadsRacingForTheFirstCallAgree) {
  std::vector<int> results(8, 0);
  std::vector<std::thread> threads;
  for (int& result : results)
    threads.emplace_back([&result] { result = GetProcessorCount(); });
  for (std::thread& thread : threads) thread.join();
  for (int result : results) EXPECT_EQ(result, results[0]);
  EXPECT_GE(results[0], 1);
}

}  // namespace
}  // namespace kelmbase

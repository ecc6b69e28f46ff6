#include "agent/base/trace_event/thread_instruction_count.h"

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "agent/base/command_line.h"
#include "agent/base/test/log_records.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace trace_event {
namespace {

std::atomic<int> g_open_calls{0};

void EnsureCommandLine(bool with_switch) {
  if (CommandLine::IsInitialized())
    return;
  const char* with[] = {"test", "--enable-thread-instruction-count"};
  const char* without[] = {"test"};
  if (with_switch)
    ASSERT_TRUE(CommandLine::Init(2, with));
  else
    ASSERT_TRUE(CommandLine::Init(1, without));
}

// Without the switch no counter is opened.
TEST(ThreadInstructionCountTest, WithoutTheSwitchNothingIsOpened) {
  EnsureCommandLine(false);
  if (CommandLine::Current()->HasSwitch("enable-thread-instruction-count"))
    GTEST_SKIP() << "the process was started with the switch";
  internal::SetInstructionCounterOpenerForTesting([] {
    ++g_open_calls;
    return 5;
  });
  std::thread thread([] {
    EXPECT_EQ(GetThreadInstructionCounterFd(), -2);
    EXPECT_FALSE(ThreadInstructionCount::IsSupported());
    EXPECT_EQ(ThreadInstructionCount::Now(), -1);
  });
  thread.join();
  internal::SetInstructionCounterOpenerForTesting(nullptr);
  EXPECT_EQ(g_open_calls.load(), 0);
}

// Descriptor 0 is a real descriptor: a thread that got it must keep it, not
// take it for "not tried yet" and open another counter on every call.
TEST(ThreadInstructionCountTest, DescriptorZeroIsKeptAndRead) {
  EnsureCommandLine(true);
  if (!CommandLine::Current()->HasSwitch("enable-thread-instruction-count"))
    GTEST_SKIP() << "the command line was set up without the switch";

  // Make descriptor 0 a pipe holding one 8-byte count.
  const int saved_stdin = dup(0);
  ASSERT_GE(saved_stdin, 0);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const uint64_t count = 123456789;
  ASSERT_EQ(write(pipe_fds[1], &count, sizeof(count)),
            static_cast<ssize_t>(sizeof(count)));
  ASSERT_EQ(dup2(pipe_fds[0], 0), 0);
  close(pipe_fds[0]);

  g_open_calls = 0;
  internal::SetInstructionCounterOpenerForTesting([] {
    ++g_open_calls;
    return 0;
  });
  std::thread thread([] {
    EXPECT_EQ(GetThreadInstructionCounterFd(), 0);
    EXPECT_EQ(GetThreadInstructionCounterFd(), 0);
    EXPECT_TRUE(ThreadInstructionCount::IsSupported());
    EXPECT_EQ(ThreadInstructionCount::Now(), static_cast<int64_t>(count));
  });
  thread.join();  // The thread's exit closes its descriptor 0.
  internal::SetInstructionCounterOpenerForTesting(nullptr);
  EXPECT_EQ(g_open_calls.load(), 1) << "opened once per thread";

  close(pipe_fds[1]);
  ASSERT_EQ(dup2(saved_stdin, 0), 0);
  close(saved_stdin);
}

// A failed open is reported once per thread, with one ERROR record, and
// the thread then runs without a counter.
TEST(ThreadInstructionCountTest, FailedOpenIsRememberedPerThread) {
  EnsureCommandLine(true);
  if (!CommandLine::Current()->HasSwitch("enable-thread-instruction-count"))
    GTEST_SKIP() << "the command line was set up without the switch";
  g_open_calls = 0;
  internal::SetInstructionCounterOpenerForTesting([] {
    ++g_open_calls;
    return -1;
  });
  testing::internal::CaptureStderr();
  for (int i = 0; i < 2; ++i) {
    std::thread thread([] {
      EXPECT_EQ(GetThreadInstructionCounterFd(), -1);
      EXPECT_EQ(GetThreadInstructionCounterFd(), -1);
      EXPECT_FALSE(ThreadInstructionCount::IsSupported());
      EXPECT_EQ(ThreadInstructionCount::Now(), -1);
    });
    thread.join();
  }
  const std::vector<test::LogRecord> records =
      test::ParseLogRecords(testing::internal::GetCapturedStderr());
  internal::SetInstructionCounterOpenerForTesting(nullptr);
  EXPECT_EQ(g_open_calls.load(), 2) << "tried once per thread";
  ASSERT_EQ(records.size(), 2u) << "one record per thread";
  for (const test::LogRecord& record : records) {
    EXPECT_EQ(record.severity, 'E');
    EXPECT_EQ(record.file, "thread_instruction_count.cc");
    EXPECT_EQ(record.text,
              "perf_event_open failed, omitting instruction counters");
  }
}

// The record the counter is opened with, byte by byte.
TEST(ThreadInstructionCountTest, AttributeRecordHoldsOnlyTheCounterSettings) {
  const internal::PerfEventAttrRecord record =
      internal::MakeInstructionCounterAttrRecord();
  static_assert(sizeof(record.bytes) == 112);
  auto u32_at = [&record](size_t offset) {
    uint32_t value;
    memcpy(&value, record.bytes + offset, sizeof(value));
    return value;
  };
  auto u64_at = [&record](size_t offset) {
    uint64_t value;
    memcpy(&value, record.bytes + offset, sizeof(value));
    return value;
  };
  EXPECT_EQ(u32_at(0), 0u) << "type: hardware";
  EXPECT_EQ(u32_at(4), 112u) << "size";
  EXPECT_EQ(u64_at(8), 1u) << "config: retired instructions";
  EXPECT_EQ(u64_at(40), 0x60u) << "flags: exclude_kernel, exclude_hv";
  for (size_t i = 16; i < sizeof(record.bytes); ++i) {
    if (i >= 40 && i < 48)
      continue;
    EXPECT_EQ(record.bytes[i], 0) << "byte " << i;
  }
}

}  // namespace
}  // namespace trace_event
}  // namespace kelmbase

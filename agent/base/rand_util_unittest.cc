#include "agent/base/rand_util.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

bool AllZero(const std::vector<uint8_t>& bytes, size_t begin, size_t end) {
  for (size_t i = begin; i < end; ++i) {
    if (bytes[i] != 0) {
      return false;
    }
  }
  return true;
}

// Makes the given system calls fail with `error` in this process from now
// on. Used only inside death-test children, which exit afterwards.
void FailSyscalls(std::initializer_list<int> numbers, int error) {
  std::vector<sock_filter> program;
  program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
                             offsetof(struct seccomp_data, nr)));
  for (int nr : numbers) {
    program.push_back(
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(nr), 0, 1));
    program.push_back(BPF_STMT(BPF_RET | BPF_K,
                               SECCOMP_RET_ERRNO | static_cast<uint32_t>(error)));
  }
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  sock_fprog fprog = {static_cast<unsigned short>(program.size()),
                      program.data()};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog) != 0) {
    fprintf(stderr, "cannot install the seccomp filter\n");
    _exit(3);
  }
}

TEST(RandUtilTest, RandomBytesFillsTheBuffer) {
  std::vector<uint8_t> first(256, 0);
  std::vector<uint8_t> second(256, 0);
  RandomBytes(first.data(), first.size());
  RandomBytes(second.data(), second.size());
  // 2048 zero bits, or two equal draws, would mean nothing was written.
  EXPECT_FALSE(AllZero(first, 0, first.size()));
  EXPECT_NE(first, second);
  // Nothing to write needs no buffer.
  RandomBytes(nullptr, 0);
}

TEST(RandUtilTest, RandomBytesWritesOnlyTheGivenLength) {
  std::vector<uint8_t> bytes(64, 0);
  RandomBytes(bytes.data() + 8, 16);
  EXPECT_TRUE(AllZero(bytes, 0, 8));
  EXPECT_TRUE(AllZero(bytes, 24, bytes.size()));
  EXPECT_FALSE(AllZero(bytes, 8, 24));
}

// With the kernel call refused, the whole buffer still comes from
// /dev/urandom. The work happens in a child so the filter stays there.
TEST(RandUtilDeathTest, FallsBackToUrandomWhenGetrandomFails) {
  EXPECT_EXIT(
      {
        FailSyscalls({SYS_getrandom}, ENOSYS);
        std::vector<uint8_t> bytes(4096, 0);
        RandomBytes(bytes.data(), bytes.size());
        // Each 512-byte stretch was filled, the last one included.
        for (size_t begin = 0; begin < bytes.size(); begin += 512) {
          if (AllZero(bytes, begin, begin + 512)) {
            _exit(1);
          }
        }
        // The device descriptor stays open, close-on-exec, for later calls.
        const int fd = UrandomFd::Get();
        if (fd < 0 || (fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0) {
          _exit(2);
        }
        RandomBytes(bytes.data(), 16);
        if (UrandomFd::Get() != fd) {
          _exit(4);
        }
        _exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(RandUtilDeathTest, FailedFallbackReadIsFatal) {
  EXPECT_DEATH(
      {
        FailSyscalls({SYS_getrandom, SYS_read}, EIO);
        uint8_t bytes[16];
        RandomBytes(bytes, sizeof(bytes));
      },
      "Check failed: success");
}

TEST(RandUtilDeathTest, UnopenableUrandomIsFatal) {
  EXPECT_DEATH(
      {
        FailSyscalls({SYS_getrandom, SYS_openat}, EACCES);
        uint8_t bytes[16];
        RandomBytes(bytes, sizeof(bytes));
      },
      "Check failed: fd_ >= 0.*Cannot open /dev/urandom");
}

TEST(RandUtilTest, UrandomFdIsTheDeviceAndStaysTheSame) {
  const int fd = UrandomFd::Get();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(UrandomFd::Get(), fd);
  char target[64] = {};
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  ASSERT_GT(readlink(link.c_str(), target, sizeof(target) - 1), 0);
  EXPECT_STREQ(target, "/dev/urandom");
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
}

TEST(RandUtilTest, UrandomFdIsCreatedOnceAcrossThreads) {
  constexpr int kThreads = 8;
  std::vector<int> seen(kThreads, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&seen, i] { seen[i] = UrandomFd::Get(); });
  }
  for (std::thread& t : threads) {
    t.join();
  }
  for (int fd : seen) {
    EXPECT_GE(fd, 0);
    EXPECT_EQ(fd, seen[0]);
  }
}

TEST(RandUtilTest, RandomUint64UsesAllBits) {
  uint64_t any_set = 0;
  uint64_t all_set = ~uint64_t{0};
  for (int i = 0; i < 200; ++i) {
    const uint64_t value = RandomUint64();
    any_set |= value;
    all_set &= value;
  }
  EXPECT_EQ(any_set, ~uint64_t{0});
  EXPECT_EQ(all_set, 0u);
}

TEST(RandUtilTest, RandomIntWithOneValueRangeReturnsIt) {
  const int kValues[] = {5, 0, -7, INT_MIN, INT_MAX};
  for (int v : kValues) {
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(RandomInt(v, v), v);
    }
  }
}

TEST(RandUtilTest, RandomIntStaysInRangeAndReachesBothEnds) {
  struct Range {
    int min;
    int max;
  };
  const Range kRanges[] = {{0, 1}, {-3, 3}, {10, 12}, {INT_MAX - 2, INT_MAX},
                           {INT_MIN, INT_MIN + 2}};
  for (const Range& r : kRanges) {
    bool saw_min = false;
    bool saw_max = false;
    for (int i = 0; i < 1000; ++i) {
      const int v = RandomInt(r.min, r.max);
      ASSERT_GE(v, r.min);
      ASSERT_LE(v, r.max);
      saw_min |= v == r.min;
      saw_max |= v == r.max;
    }
    EXPECT_TRUE(saw_min) << r.min << ".." << r.max;
    EXPECT_TRUE(saw_max) << r.min << ".." << r.max;
  }
}

TEST(RandUtilTest, RandomIntIsUniformOverSmallRange) {
  // 3 does not divide 2^64: without rejection the low residues would be
  // favoured (too slightly to see here, but the counts must stay even).
  int counts[3] = {};
  constexpr int kDraws = 30000;
  for (int i = 0; i < kDraws; ++i) {
    ++counts[RandomInt(0, 2)];
  }
  for (int count : counts) {
    // Expected 10000 with a standard deviation near 82.
    EXPECT_GT(count, 9300);
    EXPECT_LT(count, 10700);
  }
}

TEST(RandUtilTest, RandomIntCoversTheFullIntRange) {
  bool below_half_min = false;
  bool above_half_max = false;
  for (int i = 0; i < 200; ++i) {
    const int v = RandomInt(INT_MIN, INT_MAX);
    below_half_min |= v < INT_MIN / 2;
    above_half_max |= v > INT_MAX / 2;
  }
  EXPECT_TRUE(below_half_min);
  EXPECT_TRUE(above_half_max);
}

TEST(RandUtilTest, RandomIntForSsidHasSixHexDigits) {
  for (int i = 0; i < 1000; ++i) {
    const int v = RandomInt(0x500000, 0x9FFFFF);
    char text[16];
    snprintf(text, sizeof(text), "%X", v);
    ASSERT_EQ(strlen(text), 6u) << text;
    EXPECT_GE(text[0], '5') << text;
    EXPECT_LE(text[0], '9') << text;
  }
}

TEST(RandUtilDeathTest, RandomIntWithMinAboveMaxIsFatal) {
  EXPECT_DEATH(RandomInt(5, 4), "Check failed: min <= max \\(5 vs. 4\\)");
  EXPECT_DEATH(RandomInt(INT_MAX, INT_MIN), "Check failed: min <= max");
}

TEST(RandUtilTest, RandomDoubleIsInUnitIntervalOnA53BitGrid) {
  double sum = 0;
  constexpr int kDraws = 10000;
  for (int i = 0; i < kDraws; ++i) {
    const double d = RandomDouble();
    ASSERT_GE(d, 0.0);
    ASSERT_LT(d, 1.0);
    // A multiple of 2^-53: scaling back gives a whole number.
    const double scaled = d * 9007199254740992.0;
    EXPECT_EQ(scaled, static_cast<double>(static_cast<uint64_t>(scaled)));
    sum += d;
  }
  // Mean 0.5, standard deviation of the mean about 0.003.
  EXPECT_NEAR(sum / kDraws, 0.5, 0.03);
}

}  // namespace
}  // namespace kelmbase

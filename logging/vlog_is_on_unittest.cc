#include "logging/vlog_is_on.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "absl/flags/flag.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "logging/log.h"
#include "logging/log_flags.h"

namespace kelm_log {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

// Every test starts and ends with --v and --vmodule at their defaults, so
// that the order in which tests run does not matter.
class VlogIsOnTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFlags(); }
  void TearDown() override { ResetFlags(); }

  static void ResetFlags() {
    absl::SetFlag(&FLAGS_v, 0);
    absl::SetFlag(&FLAGS_vmodule, "");
  }
};

TEST_F(VlogIsOnTest, LevelForFileFollowsTheFirstMatchingPattern) {
  struct Case {
    const char* vmodule;
    int32_t v;
    const char* file;
    int32_t level;
  } cases[] = {
      // Exact module names; the extension and the folders do not count.
      {"foo=2", 0, "foo.cc", 2},
      {"foo=2", 0, "third_party/ambrel/a/b/foo.cc", 2},
      {"foo=2", 0, "a\\b\\foo.cc", 2},
      {"foo=2", 0, "foo", 2},
      {"foo=2", 0, "foo.pb.cc", 2},
      {"foo=2", 0, "foobar.cc", 0},
      {"foo=2", 0, "xfoo.cc", 0},
      {"foo=2", 0, "Foo.cc", 0},
      {"b/foo=2", 0, "a/b/foo.cc", 0},
      {"foo.cc=2", 0, "foo.cc", 0},
      // '*' takes any run of characters, also none.
      {"foo*=3", 0, "a/foobar.cc", 3},
      {"foo*=3", 0, "foo.cc", 3},
      {"foo*=3", 0, "fo.cc", 0},
      {"*_recorder=1", 0, "metrics/statistics_recorder.cc", 1},
      {"*_recorder=1", 0, "metrics/statistics_recorder_unittest.cc", 0},
      {"*=4", 0, "anything.cc", 4},
      {"a*b*c=5", 0, "aXbYbZc.cc", 5},
      {"a*b*c=5", 0, "aXbYcZ.cc", 0},
      {"**=6", 0, "x.cc", 6},
      // '?' takes exactly one character.
      {"fo?=1", 0, "fob.cc", 1},
      {"fo?=1", 0, "fo.cc", 0},
      {"fo?=1", 0, "fooo.cc", 0},
      {"?*?=7", 0, "ab.cc", 7},
      {"?*?=7", 0, "a.cc", 0},
      // The first matching entry wins, also over a lower or higher --v.
      {"foo=1,f*=2", 0, "foo.cc", 1},
      {"f*=2,foo=1", 0, "foo.cc", 2},
      {"bar=1,f*=2", 0, "foo.cc", 2},
      {"foo=0", 3, "foo.cc", 0},
      {"foo=-1", 0, "foo.cc", -1},
      // No match: --v.
      {"bar=1", 3, "foo.cc", 3},
      {"bar=1", -2, "foo.cc", -2},
      // Malformed entries are skipped; the others still count.
      {"foo,bar=x,=,baz=2", 0, "baz.cc", 2},
      {"foo,bar=x,=,baz=2", 1, "foo.cc", 1},
      {"foo,bar=x,=,baz=2", 1, "bar.cc", 1},
      {",,foo=3,", 0, "foo.cc", 3},
  };
  for (const Case& c : cases) {
    absl::SetFlag(&FLAGS_v, c.v);
    absl::SetFlag(&FLAGS_vmodule, c.vmodule);
    EXPECT_EQ(VlogLevelForFile(c.file), c.level)
        << "--vmodule=" << c.vmodule << " --v=" << c.v << " file " << c.file;
    EXPECT_TRUE(VlogIsOn(c.level, c.file)) << c.vmodule << " " << c.file;
    EXPECT_FALSE(VlogIsOn(c.level + 1, c.file)) << c.vmodule << " " << c.file;
  }
}

TEST_F(VlogIsOnTest, WithoutVmoduleEveryFileGetsV) {
  absl::SetFlag(&FLAGS_v, 2);
  EXPECT_EQ(VlogLevelForFile("a/foo.cc"), 2);
  EXPECT_TRUE(VlogIsOn(2, "a/foo.cc"));
  EXPECT_FALSE(VlogIsOn(3, "a/foo.cc"));
  // Only malformed entries: as if --vmodule were empty.
  absl::SetFlag(&FLAGS_vmodule, "foo,bar=x");
  EXPECT_TRUE(VlogIsOn(2, "a/foo.cc"));
  EXPECT_FALSE(VlogIsOn(3, "a/foo.cc"));
}

TEST_F(VlogIsOnTest, FlagChangesTakeEffectAtVlogSites) {
  EXPECT_FALSE(VLOG_IS_ON(1));
  absl::SetFlag(&FLAGS_vmodule, "vlog_is_on_unittest=2");
  EXPECT_TRUE(VLOG_IS_ON(2));
  EXPECT_FALSE(VLOG_IS_ON(3));
  EXPECT_FALSE(VlogIsOn(1, "other.cc"));

  // --v applies again to this file once no pattern matches it, while the
  // other file follows its own pattern.
  absl::SetFlag(&FLAGS_vmodule, "other=4");
  absl::SetFlag(&FLAGS_v, 1);
  EXPECT_TRUE(VLOG_IS_ON(1));
  EXPECT_FALSE(VLOG_IS_ON(2));
  EXPECT_TRUE(VlogIsOn(4, "other.cc"));

  absl::SetFlag(&FLAGS_vmodule, "");
  EXPECT_TRUE(VlogIsOn(1, "other.cc"));
  EXPECT_FALSE(VlogIsOn(2, "other.cc"));
  absl::SetFlag(&FLAGS_v, 0);
  EXPECT_FALSE(VLOG_IS_ON(1));

  testing::internal::CaptureStderr();
  VLOG(1) << "before";
  absl::SetFlag(&FLAGS_vmodule, "other=0,vlog_is_on_*=1");
  VLOG(1) << "during";
  VLOG(2) << "too verbose";
  absl::SetFlag(&FLAGS_vmodule, "");
  VLOG(1) << "after";
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, ContainsRegex("^I0000[^\n]* vlog_is_on_unittest\\.cc:"
                                 "[0-9]+\\] during\n$"));
  EXPECT_THAT(out, Not(HasSubstr("before")));
  EXPECT_THAT(out, Not(HasSubstr("too verbose")));
  EXPECT_THAT(out, Not(HasSubstr("after")));
}

// Readers on other threads only ever see levels that the flags give while
// both flags keep changing, and exactly the levels of a state while it
// stands. The writer goes through a table of states; after setting each one
// it publishes the state's number and waits until every reader has checked
// that state before changing the flags again, so that each state is checked
// by every reader however the threads are scheduled. Between states the
// readers keep reading while the writer changes the flags.
TEST_F(VlogIsOnTest, ReadersSeeOnlyLevelsTheFlagsGive) {
  struct State {
    int32_t v;
    const char* vmodule;
    int32_t foo_level;  // of x/foo.cc, which "foo=5" matches
    int32_t bar_level;  // of x/bar.cc, which no pattern matches
  };
  static constexpr State kStates[] = {
      {1, "", 1, 1},
      {0, "foo=5", 5, 0},
      {1, "foo=5", 5, 1},
      {0, "", 0, 0},
  };
  constexpr int kStateCount = sizeof(kStates) / sizeof(kStates[0]);
  constexpr int kRounds = 100;
  constexpr int kReaders = 2;
  // Far beyond what a reader needs to check one state, even under a
  // sanitizer on a loaded machine; only reached if a reader is stuck.
  constexpr auto kWaitLimit = std::chrono::seconds(30);

  // The number of the state that stands, counting from 1; 0 before the
  // first.
  std::atomic<int> standing{0};
  // How many (state, reader) checks were made; state n stands until this
  // reaches n * kReaders.
  std::atomic<int> checked{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&] {
      int last_checked = 0;
      while (!stop.load(std::memory_order_acquire)) {
        const int number = standing.load(std::memory_order_acquire);
        if (number != last_checked) {
          // The writer leaves the flags alone until this check is counted.
          const State& s = kStates[(number - 1) % kStateCount];
          SCOPED_TRACE(testing::Message()
                       << "--v=" << s.v << " --vmodule=" << s.vmodule);
          EXPECT_EQ(VlogLevelForFile("x/foo.cc"), s.foo_level);
          EXPECT_EQ(VlogLevelForFile("x/bar.cc"), s.bar_level);
          EXPECT_TRUE(VlogIsOn(s.foo_level, "x/foo.cc"));
          EXPECT_FALSE(VlogIsOn(s.foo_level + 1, "x/foo.cc"));
          EXPECT_TRUE(VlogIsOn(s.bar_level, "x/bar.cc"));
          EXPECT_FALSE(VlogIsOn(s.bar_level + 1, "x/bar.cc"));
          last_checked = number;
          checked.fetch_add(1, std::memory_order_release);
          continue;
        }
        // The flags may be changing: any mix of the states' values.
        const int32_t level = VlogLevelForFile("x/foo.cc");
        EXPECT_TRUE(level == 0 || level == 1 || level == 5) << level;
        EXPECT_TRUE(VlogIsOn(0, "x/foo.cc"));
        EXPECT_FALSE(VlogIsOn(6, "x/foo.cc"));
        EXPECT_FALSE(VlogIsOn(2, "x/bar.cc"));
      }
    });
  }

  for (int number = 1; number <= kRounds * kStateCount; ++number) {
    const State& s = kStates[(number - 1) % kStateCount];
    // Either flag may change first, so the readers also meet the mixed
    // states in between.
    if (number % 2 == 0) {
      absl::SetFlag(&FLAGS_v, s.v);
      absl::SetFlag(&FLAGS_vmodule, s.vmodule);
    } else {
      absl::SetFlag(&FLAGS_vmodule, s.vmodule);
      absl::SetFlag(&FLAGS_v, s.v);
    }
    standing.store(number, std::memory_order_release);
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    while (checked.load(std::memory_order_acquire) < number * kReaders &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    if (checked.load(std::memory_order_acquire) < number * kReaders) {
      ADD_FAILURE() << "readers did not check state " << number << " within "
                    << kWaitLimit.count() << " s";
      break;
    }
  }
  stop.store(true, std::memory_order_release);
  for (std::thread& reader : readers) reader.join();
}

}  // namespace
}  // namespace kelm_log

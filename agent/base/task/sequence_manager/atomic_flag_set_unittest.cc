#include "agent/base/task/sequence_manager/atomic_flag_set.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "agent/base/functional/bind.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {
namespace {

// Owns a flag set and records the ids of the callbacks it runs.
class AtomicFlagSetTest : public testing::Test {
 protected:
  AtomicFlagSet::AtomicFlag Add(int id) {
    return flag_set_.AddFlag(BindRepeatable(
        [](std::vector<int>* ran, int id) { ran->push_back(id); }, &ran_, id));
  }

  std::vector<int> Run() {
    ran_.clear();
    flag_set_.RunActiveCallbacks();
    return ran_;
  }

  std::vector<int> ran_;
  AtomicFlagSet flag_set_{AssociatedThreadId::CreateBound()};
};

TEST_F(AtomicFlagSetTest, RunsRaisedFlagsOnce) {
  AtomicFlagSet::AtomicFlag a = Add(1);
  AtomicFlagSet::AtomicFlag b = Add(2);
  AtomicFlagSet::AtomicFlag c = Add(3);
  EXPECT_EQ(Run(), std::vector<int>{});

  c.SetActive(true);
  a.SetActive(true);
  a.SetActive(true);  // Twice before a run: one callback.
  b.SetActive(true);
  b.SetActive(false);  // Lowered again: no callback.
  EXPECT_EQ(Run(), (std::vector<int>{1, 3}));
  EXPECT_EQ(Run(), std::vector<int>{});
}

TEST_F(AtomicFlagSetTest, AFlagRaisedByItsOwnCallbackRunsOnTheNextRun) {
  AtomicFlagSet::AtomicFlag flag;
  int runs = 0;
  flag = flag_set_.AddFlag(BindRepeatable(
      [](AtomicFlagSet::AtomicFlag* flag, int* runs) {
        if (++*runs == 1) flag->SetActive(true);
      },
      &flag, &runs));
  flag.SetActive(true);
  flag_set_.RunActiveCallbacks();
  EXPECT_EQ(runs, 1);
  flag_set_.RunActiveCallbacks();
  EXPECT_EQ(runs, 2);
  flag_set_.RunActiveCallbacks();
  EXPECT_EQ(runs, 2);
}

TEST_F(AtomicFlagSetTest, The65thFlagStartsANewGroupVisitedFirst) {
  std::vector<AtomicFlagSet::AtomicFlag> flags;
  for (int i = 0; i < 65; ++i) flags.push_back(Add(i));
  flags[0].SetActive(true);
  flags[63].SetActive(true);
  flags[64].SetActive(true);
  EXPECT_EQ(Run(), (std::vector<int>{64, 0, 63}));
}

TEST_F(AtomicFlagSetTest, AFreedSlotOfAFullGroupIsReusedFirst) {
  std::vector<AtomicFlagSet::AtomicFlag> flags;
  for (int i = 0; i < 65; ++i) flags.push_back(Add(i));
  flags[10].ReleaseAtomicFlag();
  // The full first group now has a free slot and is the first candidate:
  // the new flag takes index 10 there, not index 1 of the newer group.
  AtomicFlagSet::AtomicFlag reused = Add(100);
  reused.SetActive(true);
  flags[11].SetActive(true);
  flags[64].SetActive(true);
  EXPECT_EQ(Run(), (std::vector<int>{64, 100, 11}));
}

TEST_F(AtomicFlagSetTest, AnEmptiedGroupIsFreedAndTheOthersStayLinked) {
  std::vector<AtomicFlagSet::AtomicFlag> flags;
  for (int i = 0; i < 129; ++i) flags.push_back(Add(i));
  // Empty the middle group (flags 64-127) entirely.
  for (int i = 64; i < 128; ++i) flags[i].ReleaseAtomicFlag();
  flags[0].SetActive(true);
  flags[128].SetActive(true);
  EXPECT_EQ(Run(), (std::vector<int>{128, 0}));
  // Freed slots are found again.
  std::vector<AtomicFlagSet::AtomicFlag> more;
  for (int i = 200; i < 300; ++i) more.push_back(Add(i));
  more.back().SetActive(true);
  EXPECT_EQ(Run(), std::vector<int>{299});
}

TEST_F(AtomicFlagSetTest, MovedHandlesReleaseOnce) {
  AtomicFlagSet::AtomicFlag a = Add(1);
  AtomicFlagSet::AtomicFlag b = std::move(a);
  b.SetActive(true);
  EXPECT_EQ(Run(), std::vector<int>{1});
  a.ReleaseAtomicFlag();  // Empty: nothing.
  b = Add(2);             // Releases flag 1, takes flag 2.
  b.SetActive(true);
  EXPECT_EQ(Run(), std::vector<int>{2});
}

// Posters write plain data, then raise their flag; the owner's callback
// reads the data. The raise must publish the write (ThreadSanitizer checks
// it), and no raise may be lost while the owner keeps collecting.
TEST(AtomicFlagSetThreadTest, RaisesFromOtherThreadsAreSeenWithTheirData) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  AtomicFlagSet flag_set(AssociatedThreadId::CreateBound());
  struct Slot {
    int written = 0;  // Plain: published by the flag.
    int seen = 0;
    std::atomic<int> acknowledged{0};
  };
  Slot slots[kThreads];
  std::vector<AtomicFlagSet::AtomicFlag> flags;
  for (Slot& slot : slots) {
    flags.push_back(flag_set.AddFlag(BindRepeatable(
        [](Slot* slot) {
          slot->seen = slot->written;
          slot->acknowledged.store(slot->seen, std::memory_order_release);
        },
        &slot)));
  }
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 1; round <= kRounds; ++round) {
        // Wait until the owner has seen the previous round's write.
        while (slots[t].acknowledged.load(std::memory_order_acquire) !=
               round - 1) {
          std::this_thread::yield();
        }
        slots[t].written = round;
        flags[t].SetActive(true);
      }
      done.fetch_add(1);
    });
  }
  while (done.load() < kThreads) flag_set.RunActiveCallbacks();
  for (std::thread& thread : threads) thread.join();
  flag_set.RunActiveCallbacks();
  for (const Slot& slot : slots) EXPECT_EQ(slot.seen, kRounds);
}

}  // namespace
}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase

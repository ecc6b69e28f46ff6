// Histograms, the recorder and the block allocator used from several
// threads at once. Run under ThreadSanitizer as well.

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agent/base/metrics/histogram.h"
#include "agent/base/metrics/histogram_functions.h"
#include "agent/base/metrics/persistent_histogram_store.h"
#include "agent/base/metrics/persistent_memory_allocator.h"
#include "agent/base/metrics/sparse_histogram.h"
#include "agent/base/metrics/statistics_recorder.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

constexpr int kThreads = 4;

// Starts `kThreads` threads running body(thread index) at the same moment.
template <typename Body>
void RunTogether(Body body) {
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&go, &body, t] {
      while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
      body(t);
    });
  }
  go.store(true, std::memory_order_release);
  for (std::thread& thread : threads) thread.join();
}

class HistogramThreadsTest : public testing::Test {
 protected:
  void SetUp() override { StatisticsRecorder::ForgetAllForTesting(); }
  void TearDown() override { PersistentHistogramStore::SetGlobal(nullptr); }
};

TEST_F(HistogramThreadsTest, AddsFromSeveralThreadsAreAllCounted) {
  constexpr int kAdds = 20000;
  HistogramBase* histogram =
      Histogram::GetOrCreate("Test.Threads.Exponential", 1, 10000, 50, 1);
  RunTogether([histogram](int t) {
    for (int i = 0; i < kAdds; ++i) histogram->Add((i * 7 + t) % 12000);
  });
  std::unique_ptr<HistogramSamples> samples = histogram->CopySamples();
  EXPECT_EQ(kThreads * kAdds, samples->TotalCount());
  EXPECT_EQ(kThreads * kAdds, samples->redundant_count());
  int64_t sum = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kAdds; ++i) sum += (i * 7 + t) % 12000;
  }
  EXPECT_EQ(sum, samples->sum());
}

TEST_F(HistogramThreadsTest, SwitchFromTheWordLosesNoSample) {
  // Each round, fresh samples see threads add to one bucket while another
  // thread hits a second bucket, so the word moves to a counts array while
  // others still add to it.
  auto* ranges = new BucketRanges(11);
  LinearHistogram::InitializeLinearRanges(1, 9, ranges);
  const BucketRanges* shared =
      StatisticsRecorder::RegisterRangesOrDiscardDuplicate(ranges);
  for (int round = 0; round < 200; ++round) {
    SampleVector samples(shared);
    RunTogether([&samples](int t) {
      for (int i = 0; i < 50; ++i) samples.AddCountAt(t == 0 && i == 25 ? 7 : 3, 1);
    });
    ASSERT_EQ(kThreads * 50 - 1, samples.CountOf(3)) << round;
    ASSERT_EQ(1, samples.CountOf(7)) << round;
    ASSERT_EQ(kThreads * 50, samples.TotalCount()) << round;
  }
}

TEST_F(HistogramThreadsTest, SparseAddsFromSeveralThreads) {
  constexpr int kAdds = 5000;
  HistogramBase* histogram = SparseHistogram::GetOrCreate("Test.Threads.Sparse", 1);
  RunTogether([histogram](int t) {
    for (int i = 0; i < kAdds; ++i) histogram->Add(i % 10 - t);
  });
  std::unique_ptr<HistogramSamples> samples = histogram->CopySamples();
  EXPECT_EQ(kThreads * kAdds, samples->TotalCount());
  // Thread t adds -t to 9 - t, each kAdds / 10 times.
  EXPECT_EQ(kThreads * kAdds / 10, samples->CountOf(0));
  EXPECT_EQ(kAdds / 10, samples->CountOf(9));
  EXPECT_EQ(kAdds / 10, samples->CountOf(-3));
}

TEST_F(HistogramThreadsTest, CreatingOneNameAtOnceGivesOneHistogram) {
  for (int round = 0; round < 20; ++round) {
    const std::string name = "Test.Threads.Race" + std::to_string(round);
    const std::string sparse_name = "Test.Threads.SparseRace" + std::to_string(round);
    HistogramBase* seen[kThreads] = {};
    HistogramBase* seen_sparse[kThreads] = {};
    RunTogether([&](int t) {
      seen[t] = Histogram::GetOrCreate(name, 1, 1000, 20, 1);
      seen[t]->Add(t);
      seen_sparse[t] = SparseHistogram::GetOrCreate(sparse_name, 1);
      seen_sparse[t]->Add(t);
      RecordCounts10000("Test.Threads.Counts", t);
    });
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_EQ(seen[0], seen[t]);
      EXPECT_EQ(seen_sparse[0], seen_sparse[t]);
    }
    EXPECT_EQ(seen[0], StatisticsRecorder::Find(name));
    EXPECT_EQ(kThreads, seen[0]->CopySamples()->TotalCount());
    EXPECT_EQ(kThreads, seen_sparse[0]->CopySamples()->TotalCount());
  }
  EXPECT_EQ(20 * kThreads, StatisticsRecorder::Find("Test.Threads.Counts")
                               ->CopySamples()
                               ->TotalCount());
}

TEST_F(HistogramThreadsTest, PersistentHistogramsFromSeveralThreads) {
  constexpr size_t kSize = 256 * 1024;
  std::vector<uint64_t> memory(kSize / 8, 0);
  PersistentMemoryAllocator::FormatSegment(memory.data(), kSize, 4096, 1);
  PersistentHistogramStore store(std::make_unique<PersistentMemoryAllocator>(
      memory.data(), kSize, 4096, false));
  PersistentHistogramStore::SetGlobal(&store);
  RunTogether([](int t) {
    for (int i = 0; i < 200; ++i) {
      Histogram::GetOrCreate("Test.Threads.Persistent", 1, 1000, 20, 1)
          ->Add(i % 50);
      RecordSparseSample("Test.Threads.PersistentSparse", i % 7);
    }
  });
  EXPECT_EQ(kThreads * 200, StatisticsRecorder::Find("Test.Threads.Persistent")
                                ->CopySamples()
                                ->TotalCount());
  std::unique_ptr<HistogramSamples> sparse =
      StatisticsRecorder::Find("Test.Threads.PersistentSparse")->CopySamples();
  EXPECT_EQ(kThreads * 200, sparse->TotalCount());
  EXPECT_EQ(kThreads * 29, sparse->CountOf(0));
  PersistentHistogramStore::SetGlobal(nullptr);
  StatisticsRecorder::ForgetAllForTesting();
}

TEST_F(HistogramThreadsTest, ConcurrentAllocationAndListing) {
  constexpr size_t kSize = 1024 * 1024;
  constexpr int kBlocks = 500;
  std::vector<uint64_t> memory(kSize / 8, 0);
  PersistentMemoryAllocator::FormatSegment(memory.data(), kSize, 4096, 1);
  PersistentMemoryAllocator allocator(memory.data(), kSize, 4096, false);
  PersistentBlockIterator shared_iter(&allocator);
  std::vector<std::vector<uint32_t>> made(kThreads);
  std::vector<std::vector<uint32_t>> taken(kThreads);

  RunTogether([&](int t) {
    for (int i = 0; i < kBlocks; ++i) {
      const uint32_t ref = allocator.Allocate(8 + (i % 5) * 40, 100 + t);
      ASSERT_NE(0u, ref);
      *static_cast<int*>(allocator.GetAsObject(ref, 100 + t, 8)) = i;
      allocator.MakeIterable(ref);
      made[t].push_back(ref);
      // Every thread also walks the list through one shared iterator.
      uint32_t type = 0;
      if (uint32_t got = shared_iter.GetNext(&type)) taken[t].push_back(got);
    }
  });
  EXPECT_FALSE(allocator.IsCorrupt());

  std::set<uint32_t> all_made;
  for (const auto& refs : made) all_made.insert(refs.begin(), refs.end());
  ASSERT_EQ(size_t{kThreads * kBlocks}, all_made.size());

  // The shared iterator handed each block to one thread only; a fresh one
  // sees every block once.
  std::set<uint32_t> all_taken;
  size_t taken_count = 0;
  for (const auto& refs : taken) {
    all_taken.insert(refs.begin(), refs.end());
    taken_count += refs.size();
  }
  EXPECT_EQ(all_taken.size(), taken_count);
  PersistentBlockIterator fresh(&allocator);
  std::set<uint32_t> listed;
  uint32_t type = 0;
  while (uint32_t ref = fresh.GetNext(&type)) {
    EXPECT_TRUE(listed.insert(ref).second);
    EXPECT_GE(type, 100u);
  }
  EXPECT_EQ(all_made, listed);
}

}  // namespace
}  // namespace kelmbase

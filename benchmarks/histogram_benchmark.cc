// Recording one sample into an existing exponential histogram against the
// least any bucketed counter can cost: a relaxed atomic increment of one
// cell of a bucket array. Both walk the same sequence of buckets. From one
// thread, and from four threads sharing the one histogram (and the one
// array), which measures what the shared sum and count cost under
// contention. Run pinned to two cores for the four-thread figures:
//   taskset -c 4,5 kelm_benchmarks --benchmark_filter=Histogram
// The ratios printed at the end are Add over the floor.

#include <array>
#include <atomic>
#include <cstdint>

#include "agent/base/memory/cache_line.h"
#include "agent/base/metrics/histogram.h"
#include "agent/base/metrics/sample_vector.h"
#include "benchmark/benchmark.h"
#include "benchmarks/ratio.h"

namespace {

constexpr size_t kPattern = 64;

// Sample values spread over the 50 buckets of a 1-10000 histogram, and the
// bucket each one lands in.
struct Pattern {
  std::array<int32_t, kPattern> values;
  std::array<uint32_t, kPattern> buckets;
};

const Pattern& SamplePattern() {
  static const Pattern pattern = [] {
    Pattern p;
    kelmbase::BucketRanges ranges(51);
    kelmbase::Histogram::InitializeExponentialRanges(1, 10000, &ranges);
    uint32_t seed = 12345;
    for (size_t i = 0; i < kPattern; ++i) {
      seed = seed * 1103515245u + 12345u;
      const uint32_t bucket = (seed >> 16) % 50;
      p.buckets[i] = bucket;
      p.values[i] = ranges.range(bucket);
    }
    return p;
  }();
  return pattern;
}

kelmbase::HistogramBase* BenchHistogram() {
  static kelmbase::HistogramBase* const histogram = [] {
    kelmbase::HistogramBase* h = kelmbase::Histogram::GetOrCreate(
        "Benchmark.Histogram.Add", 1, 10000, 50, 0x1);
    // Past the single-sample word: the steady state is the counts array.
    h->Add(1);
    h->Add(5000);
    return h;
  }();
  return histogram;
}

void BM_HistogramAdd(benchmark::State& state) {
  const Pattern& pattern = SamplePattern();
  kelmbase::HistogramBase* histogram = BenchHistogram();
  size_t i = static_cast<size_t>(state.thread_index()) * 7;
  for (auto _ : state) {
    histogram->Add(pattern.values[i++ % kPattern]);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HistogramAdd)->Threads(1)->Threads(4)->UseRealTime();

// Whole cache lines of its own, like the histogram's counts array, so that
// both sides spread their adds over the same lines and share them with
// nothing else.
struct alignas(kelmbase::kCacheLineSize) FloorBuckets {
  std::array<std::atomic<int32_t>, 50> cells{};
};
FloorBuckets g_floor_buckets;

void BM_HistogramFloorRelaxedIncrement(benchmark::State& state) {
  const Pattern& pattern = SamplePattern();
  size_t i = static_cast<size_t>(state.thread_index()) * 7;
  for (auto _ : state) {
    g_floor_buckets.cells[pattern.buckets[i++ % kPattern]].fetch_add(
        1, std::memory_order_relaxed);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HistogramFloorRelaxedIncrement)
    ->Threads(1)
    ->Threads(4)
    ->UseRealTime();

const kelm_bench::RatioRegistration kOneThread(
    "Histogram Add/relaxed increment, 1 thread",
    "BM_HistogramAdd/real_time/threads:1",
    "BM_HistogramFloorRelaxedIncrement/real_time/threads:1");
const kelm_bench::RatioRegistration kFourThreads(
    "Histogram Add/relaxed increment, 4 threads",
    "BM_HistogramAdd/real_time/threads:4",
    "BM_HistogramFloorRelaxedIncrement/real_time/threads:4");

}  // namespace

#include "agent/base/metrics/sample_vector.h"

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "agent/base/metrics/bucket_ranges.h"
#include "agent/base/metrics/histogram.h"
#include "agent/base/metrics/sample_map.h"
#include "agent/base/metrics/statistics_recorder.h"
#include "agent/base/pickle.h"
#include "agent/base/strings/string_split.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// Ranges 0, 1, ..., 9, INT32_MAX: every bucket below the last holds one
// value.
std::unique_ptr<BucketRanges> IdentityRanges() {
  auto ranges = std::make_unique<BucketRanges>(11);
  LinearHistogram::InitializeLinearRanges(1, 9, ranges.get());
  return ranges;
}

std::unique_ptr<BucketRanges> Counts10000Ranges() {
  auto ranges = std::make_unique<BucketRanges>(51);
  Histogram::InitializeExponentialRanges(1, 10000, ranges.get());
  return ranges;
}

// Exposes the bucket search.
class ProbedVector : public SampleVector {
 public:
  using SampleVector::SampleVector;
  using SampleVectorBase::BucketIndexOf;
};

// Counts of the three negative-sample reports.
struct NegativeReports {
  int32_t reason(int32_t r) const { return CountIn("Vorlum.NegativeSamples.Reason", r); }
  int32_t increment(int32_t i) const {
    return CountIn("Vorlum.NegativeSamples.Increment", i);
  }
  int32_t histogram(uint64_t id) const {
    return CountIn("Vorlum.NegativeSamples.Histogram",
                   static_cast<int32_t>(static_cast<uint32_t>(id)));
  }
  static int32_t CountIn(const char* name, int32_t value) {
    HistogramBase* histogram = StatisticsRecorder::Find(name);
    return histogram == nullptr ? 0 : histogram->CopySamples()->CountOf(value);
  }
};

class SampleVectorTest : public testing::Test {
 protected:
  void SetUp() override { StatisticsRecorder::ForgetAllForTesting(); }
};

TEST_F(SampleVectorTest, BucketIndexOf) {
  auto identity = IdentityRanges();
  ProbedVector probe(identity.get());
  const struct {
    int32_t value;
    size_t index;
  } kIdentity[] = {{0, 0}, {1, 1}, {5, 5}, {9, 9}, {10, 9}, {INT32_MAX - 1, 9}};
  for (const auto& c : kIdentity) {
    EXPECT_EQ(c.index, probe.BucketIndexOf(c.value)) << c.value;
  }

  auto exponential = Counts10000Ranges();
  ProbedVector search(exponential.get());
  const struct {
    int32_t value;
    size_t index;
  } kSearch[] = {{0, 0},     {1, 1},     {8, 8},         {9, 8},
                 {10, 9},    {11, 9},    {9999, 48},     {10000, 49},
                 {INT32_MAX - 1, 49}};
  for (const auto& c : kSearch) {
    EXPECT_EQ(c.index, search.BucketIndexOf(c.value)) << c.value;
  }
  EXPECT_DEATH(search.BucketIndexOf(-1), "value >= bucket_ranges_->range\\(0\\)");
}

TEST_F(SampleVectorTest, SecondBucketMovesTheWordIntoCounts) {
  auto ranges = IdentityRanges();
  SampleVector samples(ranges.get());
  samples.AddCountAt(3, 1);
  samples.AddCountAt(3, 1);
  EXPECT_EQ(2, samples.CountOf(3));
  EXPECT_EQ(2, samples.TotalCount());
  samples.AddCountAt(7, 1);
  EXPECT_EQ(2, samples.CountOf(3));
  EXPECT_EQ(1, samples.CountOf(7));
  EXPECT_EQ(3, samples.TotalCount());
  EXPECT_EQ(13, samples.sum());
  EXPECT_EQ(3, samples.redundant_count());
}

// Both ends of every bucket land in that bucket, whatever the number of
// buckets: counts arrays that end inside a cache line or fill several,
// searched ranges of a few buckets or of a thousand.
TEST_F(SampleVectorTest, BothEndsOfEveryBucketAreCounted) {
  for (const uint32_t buckets : {3u, 15u, 16u, 17u, 50u, 1000u}) {
    SCOPED_TRACE(buckets);
    BucketRanges ranges(buckets + 1);
    Histogram::InitializeExponentialRanges(1, 1000000, &ranges);
    SampleVector samples(&ranges);
    int64_t sum = 0;
    for (size_t i = 0; i < buckets; ++i) {
      const int32_t low = ranges.range(i);
      const int32_t high = ranges.range(i + 1) - 1;
      samples.AddCountAt(low, 1);
      samples.AddCountAt(high, 1);
      sum += int64_t{low} + high;
    }
    for (size_t i = 0; i < buckets; ++i) {
      EXPECT_EQ(2, samples.CountAtIndex(i)) << "bucket " << i;
    }
    EXPECT_EQ(static_cast<int32_t>(2 * buckets), samples.TotalCount());
    EXPECT_EQ(static_cast<int32_t>(2 * buckets), samples.redundant_count());
    EXPECT_EQ(sum, samples.sum());
    size_t listed = 0;
    for (auto it = samples.MakeIterator(); !it->IsDone(); it->Advance()) {
      ++listed;
    }
    EXPECT_EQ(buckets, listed);
  }
}

TEST_F(SampleVectorTest, WordHoldsUpTo65535Samples) {
  auto ranges = IdentityRanges();
  SampleVector samples(ranges.get());
  samples.AddCountAt(4, 65535);
  EXPECT_EQ(65535, samples.CountOf(4));
  samples.AddCountAt(4, 1);
  EXPECT_EQ(65536, samples.CountOf(4));
  EXPECT_EQ(65536, samples.TotalCount());
  EXPECT_EQ(0, samples.CountOf(5));
}

TEST_F(SampleVectorTest, EmptiedWordKeepsItsBucket) {
  auto ranges = IdentityRanges();
  SampleVector samples(ranges.get());
  samples.AddCountAt(5, 1);
  samples.AddCountAt(5, -1);  // Count 0, bucket 5.
  EXPECT_EQ(0, samples.TotalCount());
  samples.AddCountAt(6, 1);
  EXPECT_EQ(1, samples.CountOf(6));
  EXPECT_EQ(0, samples.CountOf(5));
  EXPECT_EQ(1, samples.TotalCount());
}

TEST_F(SampleVectorTest, OverflowingBucketIsReported) {
  auto ranges = IdentityRanges();
  SampleVector samples(0x1122334455667788ULL, ranges.get());
  samples.AddCountAt(2, INT32_MAX);
  samples.AddCountAt(2, 1);
  EXPECT_EQ(INT32_MIN, samples.CountOf(2));
  NegativeReports reports;
  EXPECT_EQ(1, reports.reason(HistogramSamples::kCountChangedSign));
  EXPECT_EQ(1, reports.increment(1));
  EXPECT_EQ(1, reports.histogram(0x1122334455667788ULL));
}

TEST_F(SampleVectorTest, TextOfFiveSamples) {
  auto ranges = Counts10000Ranges();
  SampleVector samples(ranges.get());
  samples.AddCountAt(1, 3);
  samples.AddCountAt(10, 2);
  EXPECT_EQ("Histogram: Name recorded 5 samples, mean = 4.6",
            samples.WriteTextHeader("Name", 0));
  const std::string body = samples.WriteTextBody();
  const std::vector<std::string> lines =
      SplitBySubstring(body, "\n", kKeepWhitespace, kWantAll);
  ASSERT_EQ(6u, lines.size()) << body;
  EXPECT_EQ("2   ... ", lines[2]);
  EXPECT_EQ("12  ... ", lines[4]);
  EXPECT_EQ("", lines[5]);
}

TEST_F(SampleVectorTest, NegativeCountsDrawNoBar) {
  auto ranges = IdentityRanges();
  SampleVector samples(ranges.get());
  samples.AddCountAt(1, 2);
  samples.AddCountAt(5, -3);
  const std::string body = samples.WriteTextBody();
  EXPECT_NE(std::string::npos,
            body.find("5  O" + std::string(72, ' ') + " (-3 = "))
      << body;

  SampleMap map(1);
  map.AddCountAt(40, -100);
  map.AddCountAt(7, 1);
  const std::string map_body = map.WriteTextBody();
  EXPECT_NE(std::string::npos,
            map_body.find("40  O" + std::string(72, ' ') + " (-100 = "))
      << map_body;
}

TEST_F(SampleVectorTest, PickleRoundTrip) {
  auto ranges = Counts10000Ranges();
  SampleVector original(ranges.get());
  original.AddCountAt(0, 4);
  original.AddCountAt(17, 2);
  original.AddCountAt(9000, 1);
  Pickle pickle;
  ASSERT_TRUE(original.WriteToPickle(&pickle));

  SampleVector copy(ranges.get());
  PickleReader reader(pickle);
  ASSERT_TRUE(copy.AddAllFromPickle(&reader));
  EXPECT_EQ(original.sum(), copy.sum());
  EXPECT_EQ(original.redundant_count(), copy.redundant_count());
  for (size_t i = 0; i < ranges->bucket_count(); ++i) {
    EXPECT_EQ(original.CountAtIndex(i), copy.CountAtIndex(i)) << i;
  }

  // One bucket only goes through the word.
  SampleVector single(ranges.get());
  single.AddCountAt(17, 3);
  Pickle single_pickle;
  single.WriteToPickle(&single_pickle);
  PickleReader single_reader(single_pickle);
  ASSERT_TRUE(copy.AddAllFromPickle(&single_reader));
  EXPECT_EQ(5, copy.CountOf(17));
}

TEST_F(SampleVectorTest, PicklesThatDoNotFit) {
  auto ranges = Counts10000Ranges();
  struct Bucket {
    int32_t min;
    int64_t max;
  };
  const struct {
    const char* what;
    bool with_header;
    std::vector<Bucket> buckets;
  } kCases[] = {
      {"no sum or count", false, {}},
      {"bucket boundaries of other ranges", true, {{0, 1}, {10, 11}}},
      {"minimum below the ranges", true, {{0, 1}, {-5, 0}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Pickle pickle;
    if (c.with_header) {
      pickle.WriteInt64(10);
      pickle.WriteInt(2);
    }
    for (const Bucket& bucket : c.buckets) {
      pickle.WriteInt(bucket.min);
      pickle.WriteInt64(bucket.max);
      pickle.WriteInt(1);
    }
    SampleVector samples(ranges.get());
    PickleReader reader(pickle);
    EXPECT_FALSE(samples.AddAllFromPickle(&reader));
  }
}

TEST_F(SampleVectorTest, AddAndSubtractAll) {
  auto ranges = Counts10000Ranges();
  SampleVector a(ranges.get());
  a.AddCountAt(3, 2);
  a.AddCountAt(500, 1);
  SampleVector b(ranges.get());
  b.AddAll(a);
  b.AddAll(a);
  EXPECT_EQ(4, b.CountOf(3));
  EXPECT_EQ(1012, b.sum());
  b.SubtractAll(a);
  EXPECT_EQ(2, b.CountOf(3));
  EXPECT_EQ(1, b.CountOf(500));
  EXPECT_EQ(3, b.redundant_count());
  EXPECT_EQ(506, b.sum());
}

TEST_F(SampleVectorTest, SampleMapBuckets) {
  SampleMap map(9);
  map.AddCountAt(-40, 2);
  map.AddCountAt(1000000, 1);
  map.AddCountAt(-40, 1);
  EXPECT_EQ(3, map.CountOf(-40));
  EXPECT_EQ(0, map.CountOf(0));
  EXPECT_EQ(4, map.TotalCount());
  EXPECT_EQ(1000000 - 120, map.sum());

  std::unique_ptr<SampleCountIterator> iter = map.MakeIterator();
  int32_t min = 0;
  int64_t max = 0;
  int32_t count = 0;
  ASSERT_FALSE(iter->IsDone());
  iter->Current(&min, &max, &count);
  EXPECT_EQ(-40, min);
  EXPECT_EQ(-39, max);
  EXPECT_EQ(3, count);
  size_t index = 0;
  EXPECT_FALSE(iter->BucketIndex(&index));
  iter->Advance();
  iter->Current(&min, nullptr, nullptr);
  EXPECT_EQ(1000000, min);
  iter->Advance();
  EXPECT_TRUE(iter->IsDone());

  // Vector buckets span more than one value: they do not fit a map.
  auto ranges = Counts10000Ranges();
  SampleVector vector(ranges.get());
  vector.AddCountAt(100, 1);
  std::unique_ptr<SampleCountIterator> wide = vector.MakeIterator();
  EXPECT_FALSE(map.ApplyIterator(wide.get(), HistogramSamples::ADD));

  SampleMap copy;
  Pickle pickle;
  map.WriteToPickle(&pickle);
  PickleReader reader(pickle);
  ASSERT_TRUE(copy.AddAllFromPickle(&reader));
  EXPECT_EQ(3, copy.CountOf(-40));
  EXPECT_EQ(map.sum(), copy.sum());
}

}  // namespace
}  // namespace kelmbase

#include "agent/base/metrics/histogram.h"

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/json/json_writer.h"
#include "agent/base/metrics/bucket_ranges.h"
#include "agent/base/metrics/dummy_histogram.h"
#include "agent/base/metrics/histogram_functions.h"
#include "agent/base/metrics/metrics_hashes.h"
#include "agent/base/metrics/sparse_histogram.h"
#include "agent/base/metrics/statistics_recorder.h"
#include "agent/base/pickle.h"
#include "agent/base/values.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

const std::vector<int32_t> kCounts10000Ranges = {
    0,    1,    2,    3,    4,    5,    6,    7,    8,    10,   12,
    14,   17,   20,   24,   29,   34,   40,   48,   57,   68,   81,
    96,   114,  135,  160,  190,  226,  268,  318,  378,  449,  533,
    633,  752,  894,  1062, 1262, 1500, 1782, 2117, 2516, 2990, 3553,
    4222, 5017, 5961, 7083, 8416, 10000, INT32_MAX};

int32_t NameSample(const std::string& name) {
  return static_cast<int32_t>(static_cast<uint32_t>(MetricNameHash64(name)));
}

// How often the sparse self-report `report` holds `sample`.
int32_t ReportCount(const char* report, int32_t sample) {
  HistogramBase* histogram = StatisticsRecorder::Find(report);
  if (histogram == nullptr) return 0;
  return histogram->CopySamples()->CountOf(sample);
}

class HistogramTest : public testing::Test {
 protected:
  void SetUp() override { StatisticsRecorder::ForgetAllForTesting(); }
};

TEST_F(HistogramTest, NameHashesAreTheLeadingMd5Bytes) {
  // MD5("") = d41d8cd98f00b204..., MD5("abc") = 900150983cd24fb0...
  EXPECT_EQ(0xd41d8cd98f00b204ULL, MetricNameHash64(""));
  EXPECT_EQ(0xd41d8cd9u, MetricNameHash32(""));
  EXPECT_EQ(0x900150983cd24fb0ULL, MetricNameHash64("abc"));
  EXPECT_EQ(0x90015098u, MetricNameHash32("abc"));
}

TEST_F(HistogramTest, TypeNames) {
  const struct {
    int value;
    const char* text;
  } kCases[] = {{0, "HISTOGRAM"},        {1, "LINEAR_HISTOGRAM"},
                {2, "BOOLEAN_HISTOGRAM"}, {3, "CUSTOM_HISTOGRAM"},
                {4, "SPARSE_HISTOGRAM"}, {5, "DUMMY_HISTOGRAM"},
                {6, "UNKNOWN"},          {100, "UNKNOWN"}};
  for (const auto& c : kCases) {
    EXPECT_EQ(c.text, HistogramTypeName(static_cast<HistogramType>(c.value)));
  }
}

TEST_F(HistogramTest, InternedNamesAreSharedAndStable) {
  const char* first = InternHistogramName("Test.Interned");
  std::string copy = "Test.Interned";
  EXPECT_EQ(first, InternHistogramName(copy));
  EXPECT_STREQ("Test.Interned", first);
  EXPECT_NE(first, InternHistogramName("Test.Other"));
}

TEST_F(HistogramTest, Counts10000RangesAndChecksum) {
  RecordCounts10000("Net.CertVerifier.PathBuilderIterationCount", 17);
  auto* histogram = static_cast<Histogram*>(
      StatisticsRecorder::Find("Net.CertVerifier.PathBuilderIterationCount"));
  ASSERT_NE(nullptr, histogram);
  EXPECT_EQ(HISTOGRAM, histogram->GetHistogramType());
  EXPECT_EQ(HistogramBase::kUmaTargetedHistogramFlag, histogram->flags());
  EXPECT_EQ(kCounts10000Ranges, histogram->bucket_ranges()->ranges());
  EXPECT_EQ(0x977D69F8u, histogram->bucket_ranges()->checksum());
  EXPECT_EQ(50u, histogram->bucket_count());
  EXPECT_EQ(1, histogram->CopySamples()->CountOf(17));
}

TEST_F(HistogramTest, LinearRangesAndChecksum) {
  BucketRanges ranges(11);
  LinearHistogram::InitializeLinearRanges(1, 9, &ranges);
  EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, INT32_MAX}),
            ranges.ranges());
  EXPECT_EQ(0xDEED1CDEu, ranges.checksum());
  EXPECT_TRUE(ranges.ChecksumMatches());
  ranges.set_range(3, 4);
  EXPECT_FALSE(ranges.ChecksumMatches());
}

TEST_F(HistogramTest, ThreeExponentialBucketsAreMinAndMax) {
  BucketRanges ranges(4);
  Histogram::InitializeExponentialRanges(5, 80, &ranges);
  EXPECT_EQ((std::vector<int32_t>{0, 5, 80, INT32_MAX}), ranges.ranges());
  EXPECT_EQ(0u, BucketRanges(0).CalculateChecksum());
}

// What CheckConstructionArguments makes of the arguments.
struct ArgumentsCase {
  const char* name;
  int32_t minimum, maximum;
  uint32_t buckets;
  int32_t want_minimum, want_maximum;
  uint32_t want_buckets;
  bool valid;
  bool too_many_reported;
};

const ArgumentsCase kArgumentsCases[] = {
    {"Test.Swapped", 10, 5, 50, 5, 10, 7, false, false},
    {"Test.Zeros", 0, 0, 3, 1, 2, 3, false, false},
    {"Test.Negative", -5, 100, 10, 1, 100, 10, true, false},
    {"Test.HugeMax", 1, INT32_MAX, 50, 1, INT32_MAX - 1, 50, true, false},
    {"Test.TwoBuckets", 1, 100, 2, 1, 100, 3, false, false},
    {"Test.ManyBuckets", 1, 10000, 2000, 1, 10000, 102, false, true},
    {"Skellat.UseCounter.Features", 1, 10000, 2000, 1, 10000, 2000, true,
     true},
    {"Test.Exactly1002", 1, 10000, 1002, 1, 10000, 1002, true, false},
};

TEST_F(HistogramTest, ConstructionArgumentsAreCorrectedAndReported) {
  for (const ArgumentsCase& c : kArgumentsCases) {
    SCOPED_TRACE(c.name);
    int32_t minimum = c.minimum;
    int32_t maximum = c.maximum;
    uint32_t buckets = c.buckets;
    EXPECT_EQ(c.valid, Histogram::CheckConstructionArguments(
                           c.name, &minimum, &maximum, &buckets));
    EXPECT_EQ(c.want_minimum, minimum);
    EXPECT_EQ(c.want_maximum, maximum);
    EXPECT_EQ(c.want_buckets, buckets);
    EXPECT_EQ(c.valid ? 0 : 1, ReportCount("Histogram.BadConstructionArguments",
                                           NameSample(c.name)));
    EXPECT_EQ(c.too_many_reported ? 1 : 0,
              ReportCount("Histogram.TooManyBuckets.1000", NameSample(c.name)));
  }
}

TEST_F(HistogramTest, FactoryBuildsWithCorrectedArguments) {
  auto* histogram = static_cast<Histogram*>(
      Histogram::GetOrCreate("Test.Reversed", 10, 5, 50, 0x1));
  ASSERT_EQ(HISTOGRAM, histogram->GetHistogramType());
  EXPECT_EQ(7u, histogram->bucket_count());
  EXPECT_EQ(5, histogram->declared_min());
  EXPECT_EQ(10, histogram->declared_max());
  // The same request finds it again, and reports again.
  EXPECT_EQ(histogram, Histogram::GetOrCreate("Test.Reversed", 10, 5, 50, 0x1));
  EXPECT_EQ(2, ReportCount("Histogram.BadConstructionArguments",
                           NameSample("Test.Reversed")));
}

TEST_F(HistogramTest, LinearTwoBucketRequestIsNotBad) {
  auto* histogram = static_cast<LinearHistogram*>(
      LinearHistogram::GetOrCreate("Test.Bool", 1, 1, 2, 0x1));
  ASSERT_EQ(LINEAR_HISTOGRAM, histogram->GetHistogramType());
  EXPECT_EQ(3u, histogram->bucket_count());
  EXPECT_EQ(1, histogram->declared_min());
  EXPECT_EQ(2, histogram->declared_max());
  EXPECT_EQ(nullptr, StatisticsRecorder::Find("Histogram.BadConstructionArguments"));
}

TEST_F(HistogramTest, MismatchedRequestsGetTheDummy) {
  HistogramBase* original = Histogram::GetOrCreate("Test.Shape", 1, 100, 10, 1);
  original->Add(5);
  const struct {
    const char* what;
    HistogramBase* (*request)();
  } kRequests[] = {
      {"as linear",
       [] { return LinearHistogram::GetOrCreate("Test.Shape", 1, 100, 10, 1); }},
      {"other bucket count",
       [] { return Histogram::GetOrCreate("Test.Shape", 1, 100, 11, 1); }},
      {"other maximum",
       [] { return Histogram::GetOrCreate("Test.Shape", 1, 200, 10, 1); }},
  };
  int reports = 0;
  for (const auto& r : kRequests) {
    SCOPED_TRACE(r.what);
    HistogramBase* got = r.request();
    EXPECT_EQ(DummyHistogram::GetInstance(), got);
    EXPECT_EQ(DUMMY_HISTOGRAM, got->GetHistogramType());
    got->Add(5);
    EXPECT_EQ(++reports, ReportCount("Histogram.MismatchedConstructionArguments",
                                     NameSample("Test.Shape")));
  }
  EXPECT_EQ(1, original->CopySamples()->TotalCount());
  EXPECT_EQ(0, DummyHistogram::GetInstance()->CopySamples()->TotalCount());
}

TEST_F(HistogramTest, SparseRequestForABucketedNameIsFatal) {
  Histogram::GetOrCreate("Test.Kind", 1, 100, 10, 1);
  // A plain check: the record ends with the expression, no operand values.
  EXPECT_DEATH(SparseHistogram::GetOrCreate("Test.Kind", 1),
               "Check failed: SPARSE_HISTOGRAM == "
               "histogram->GetHistogramType\\(\\)\n");
}

TEST_F(HistogramTest, SamplesAreClampedIntoTheRanges) {
  HistogramBase* histogram = Histogram::GetOrCreate("Test.Clamp", 1, 100, 10, 1);
  histogram->Add(-7);
  histogram->Add(INT32_MAX);
  histogram->AddCount(50, 0);
  histogram->AddCount(50, -3);
  std::unique_ptr<HistogramSamples> samples = histogram->CopySamples();
  EXPECT_EQ(2, samples->TotalCount());
  EXPECT_EQ(1, samples->CountOf(0));
  EXPECT_EQ(1, samples->CountOf(INT32_MAX - 1));
  EXPECT_EQ(0, samples->CountOf(50));
  // The clamped values count in the sum.
  EXPECT_EQ(int64_t{INT32_MAX} - 1, samples->sum());
}

TEST_F(HistogramTest, DeltasMoveFromUnloggedToLogged) {
  HistogramBase* histogram = Histogram::GetOrCreate("Test.Delta", 1, 100, 10, 1);
  histogram->AddCount(3, 2);
  histogram->Add(60);
  std::unique_ptr<HistogramSamples> delta = histogram->TakeDelta();
  EXPECT_EQ(3, delta->TotalCount());
  EXPECT_EQ(2, delta->CountOf(3));
  EXPECT_EQ(0, histogram->CopyFinalDelta()->TotalCount());
  histogram->Add(3);
  EXPECT_EQ(1, histogram->CopyFinalDelta()->TotalCount());
  // Everything is still in the copy of all samples.
  std::unique_ptr<HistogramSamples> all = histogram->CopySamples();
  EXPECT_EQ(4, all->TotalCount());
  EXPECT_EQ(3, all->CountOf(3));
  EXPECT_EQ(69, all->sum());
}

TEST_F(HistogramTest, GraphTextOfThreeOnesAndTwoTens) {
  HistogramBase* histogram =
      Histogram::GetOrCreate("Test.Graph", 1, 10000, 50, 0x1);
  histogram->AddCount(1, 3);
  histogram->AddCount(10, 2);
  const std::string bar72(72, ' ');
  const std::string expected =
      "Histogram: Test.Graph recorded 5 samples, mean = 4.6 (flags = 0x1)\n"
      "0   O" + bar72 + " (0 = 0.0%)\n"
      "1   ---O" + std::string(69, ' ') + " (3 = 60.0%) {0.0%}\n"
      "2   ... \n"
      "10  --O" + std::string(70, ' ') + " (2 = 40.0%) {60.0%}\n"
      "12  ... \n";
  std::string text;
  histogram->WriteGraphText(&text);
  EXPECT_EQ(expected, text);
}

TEST_F(HistogramTest, GraphDictionaryAsJson) {
  HistogramBase* histogram = SparseHistogram::GetOrCreate("Test.Json", 0x1);
  histogram->Add(7);
  histogram->Add(7);
  histogram->Add(12);
  std::string json;
  ASSERT_TRUE(JsonWriter::Write(histogram->BuildGraphDict(), &json));
  // Labels are padded to the widest minimum plus two; no mean for maps.
  EXPECT_EQ(
      "{\"body\":\"7   --O" + std::string(70, ' ') + " (2 = 66.7%)\\n"
      "12  -O" + std::string(71, ' ') + " (1 = 33.3%)\\n\","
      "\"header\":\"Histogram: Test.Json recorded 3 samples (flags = 0x1)\","
      "\"name\":\"Test.Json\"}",
      json);

  std::string dummy_json;
  ASSERT_TRUE(JsonWriter::Write(DummyHistogram::GetInstance()->BuildGraphDict(),
                                &dummy_json));
  EXPECT_EQ("{}", dummy_json);
}

TEST_F(HistogramTest, BucketLabelsUseDescriptions) {
  const LinearHistogram::DescriptionEntry kLabels[] = {
      {1, "one"}, {3, "three"}, {0, nullptr}};
  auto* histogram = static_cast<LinearHistogram*>(LinearHistogram::GetOrCreate(
      std::string("Test.Labels"), 1, 5, 6, 0x1, kLabels));
  EXPECT_EQ("0", histogram->BucketLabel(0));
  EXPECT_EQ("one", histogram->BucketLabel(1));
  EXPECT_EQ("2", histogram->BucketLabel(2));
  EXPECT_EQ("three", histogram->BucketLabel(3));
}

TEST_F(HistogramTest, InfoPickleAndParameters) {
  auto* histogram = static_cast<Histogram*>(
      Histogram::GetOrCreate("Test.Info", 1, 10000, 50, 0x1));
  Pickle pickle;
  histogram->WriteInfoToPickle(&pickle);
  PickleReader reader(pickle);
  std::string name;
  int32_t flags = 0, minimum = 0, maximum = 0, buckets = 0, checksum = 0;
  ASSERT_TRUE(reader.ReadString(&name));
  ASSERT_TRUE(reader.ReadInt(&flags));
  ASSERT_TRUE(reader.ReadInt(&minimum));
  ASSERT_TRUE(reader.ReadInt(&maximum));
  ASSERT_TRUE(reader.ReadInt(&buckets));
  ASSERT_TRUE(reader.ReadInt(&checksum));
  EXPECT_FALSE(reader.ReadInt(&checksum));
  EXPECT_EQ("Test.Info", name);
  EXPECT_EQ(1, flags);
  EXPECT_EQ(1, minimum);
  EXPECT_EQ(10000, maximum);
  EXPECT_EQ(50, buckets);
  EXPECT_EQ(0x977D69F8u, static_cast<uint32_t>(checksum));

  Value params(Value::Type::DICTIONARY);
  histogram->DescribeParameters(&params);
  std::string json;
  ASSERT_TRUE(JsonWriter::Write(params, &json));
  EXPECT_EQ(
      "{\"bucket_count\":50,\"max\":10000,\"min\":1,\"type\":\"HISTOGRAM\"}",
      json);

  HistogramBase* sparse = SparseHistogram::GetOrCreate("Test.SparseInfo", 1);
  Pickle sparse_pickle;
  sparse->WriteInfoToPickle(&sparse_pickle);
  PickleReader sparse_reader(sparse_pickle);
  ASSERT_TRUE(sparse_reader.ReadString(&name));
  ASSERT_TRUE(sparse_reader.ReadInt(&flags));
  EXPECT_FALSE(sparse_reader.ReadInt(&flags));
  Value sparse_params(Value::Type::DICTIONARY);
  sparse->DescribeParameters(&sparse_params);
  ASSERT_TRUE(JsonWriter::Write(sparse_params, &json));
  EXPECT_EQ("{\"type\":\"SPARSE_HISTOGRAM\"}", json);
}

TEST_F(HistogramTest, CustomInfoAddsInnerBoundaries) {
  auto* ranges = new BucketRanges(5);
  for (int32_t i : {1, 2, 3}) ranges->set_range(i, i * 10);
  ranges->set_range(4, INT32_MAX);
  ranges->UpdateChecksum();
  CustomHistogram histogram("Test.Custom",
                            StatisticsRecorder::RegisterRangesOrDiscardDuplicate(
                                ranges),
                            std::make_unique<SampleVector>(1, ranges),
                            std::make_unique<SampleVector>(1, ranges));
  Pickle pickle;
  histogram.WriteInfoToPickle(&pickle);
  PickleReader reader(pickle);
  std::string name;
  ASSERT_TRUE(reader.ReadString(&name));
  int32_t field = 0;
  std::vector<int32_t> fields;
  while (reader.ReadInt(&field)) fields.push_back(field);
  ASSERT_EQ(8u, fields.size());
  EXPECT_EQ(10, fields[1]);  // declared minimum
  EXPECT_EQ(30, fields[2]);  // declared maximum
  EXPECT_EQ(4, fields[3]);   // buckets
  EXPECT_EQ((std::vector<int32_t>{10, 20, 30}),
            std::vector<int32_t>(fields.begin() + 5, fields.end()));
}

TEST_F(HistogramTest, CorruptionChecks) {
  BucketRanges good(4);
  Histogram::InitializeExponentialRanges(1, 100, &good);
  BucketRanges stale(4);
  Histogram::InitializeExponentialRanges(1, 100, &stale);
  stale.set_range(2, 50);  // Checksum no longer matches.
  BucketRanges flat(4);
  flat.set_range(1, 5);
  flat.set_range(2, 5);
  flat.set_range(3, INT32_MAX);
  flat.UpdateChecksum();

  const struct {
    const char* what;
    const BucketRanges* ranges;
    int32_t drift;  // redundant count minus bucket total
    int32_t want;
  } kCases[] = {
      {"sound", &good, 0, 0},         {"tolerated drift", &good, 5, 0},
      {"tolerated negative drift", &good, -5, 0},
      {"count too high", &good, 6, 0x4},
      {"count too low", &good, -6, 0x8},
      {"stale checksum", &stale, 0, 0x1},
      {"not increasing", &flat, 0, 0x2},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Histogram histogram("Test.Corrupt", c.ranges);
    SampleVector samples(c.ranges);
    samples.AddCountAt(10, 1);
    samples.AddToSumAndCount(0, c.drift);
    EXPECT_EQ(c.want, histogram.CheckForCorruption(samples));
  }
}

TEST_F(HistogramTest, RefusedNamesGetTheDummy) {
  class RefuseAll : public HistogramRecordChecker {
   public:
    bool ShouldRecord(uint32_t) const override { return false; }
  };
  StatisticsRecorder::SetRecordCheckerForTesting(std::make_unique<RefuseAll>());
  EXPECT_EQ(DummyHistogram::GetInstance(),
            Histogram::GetOrCreate("Test.Refused", 1, 100, 10, 1));
  EXPECT_EQ(DummyHistogram::GetInstance(),
            SparseHistogram::GetOrCreate("Test.RefusedSparse", 1));
  EXPECT_EQ(nullptr, StatisticsRecorder::Find("Test.Refused"));
}

TEST_F(HistogramTest, SampleCallbacksRunOnlyWhenActive) {
  static std::vector<int32_t> hooked;
  hooked.clear();
  std::vector<std::string> named;
  HistogramBase* histogram = Histogram::GetOrCreate("Test.Hooked", 1, 100, 10, 1);
  StatisticsRecorder::SetGlobalSampleHookForTesting(
      [](const char*, uint64_t, int32_t sample) { hooked.push_back(sample); });
  StatisticsRecorder::SetCallbackForTesting(
      "Test.Hooked",
      BindRepeatable(
          [](std::vector<std::string>* seen, const char* name, uint64_t hash,
             int32_t sample) {
            seen->push_back(std::string(name) + ":" + std::to_string(sample));
            EXPECT_EQ(MetricNameHash64(name), hash);
          },
          &named));
  EXPECT_TRUE(histogram->flags() & HistogramBase::kCallbackExists);

  histogram->Add(4);  // Callbacks are off.
  StatisticsRecorder::SetCallbacksActiveForTesting(true);
  histogram->Add(-2);  // Clamped before the callbacks see it.
  StatisticsRecorder::SetCallbacksActiveForTesting(false);
  StatisticsRecorder::SetGlobalSampleHookForTesting(nullptr);

  EXPECT_EQ(std::vector<int32_t>{0}, hooked);
  EXPECT_EQ(std::vector<std::string>{"Test.Hooked:0"}, named);
}

}  // namespace
}  // namespace kelmbase

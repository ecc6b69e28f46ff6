#include "agent/base/metrics/statistics_recorder.h"

#include <algorithm>
#include <memory>
#include <string>

#include "agent/base/metrics/bucket_ranges.h"
#include "agent/base/metrics/histogram.h"
#include "agent/base/metrics/histogram_functions.h"
#include "agent/base/metrics/sparse_histogram.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// A sparse histogram that tells when it is destroyed.
class WatchedHistogram : public SparseHistogram {
 public:
  WatchedHistogram(const char* name, bool* destroyed)
      : SparseHistogram(name), destroyed_(destroyed) {}
  ~WatchedHistogram() override { *destroyed_ = true; }

 private:
  bool* const destroyed_;
};

class StatisticsRecorderTest : public testing::Test {
 protected:
  void SetUp() override { StatisticsRecorder::ForgetAllForTesting(); }
};

TEST_F(StatisticsRecorderTest, FirstRegistrationOfANameWins) {
  const char* name = InternHistogramName("Test.Twice");
  bool first_destroyed = false;
  bool second_destroyed = false;
  auto* first = new WatchedHistogram(name, &first_destroyed);
  auto* second = new WatchedHistogram(name, &second_destroyed);

  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDiscardDuplicate(first));
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDiscardDuplicate(second));
  EXPECT_TRUE(second_destroyed);
  EXPECT_FALSE(first_destroyed);
  // Registering the registered one again changes nothing.
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDiscardDuplicate(first));
  EXPECT_FALSE(first_destroyed);
  EXPECT_EQ(first, StatisticsRecorder::Find("Test.Twice"));
  EXPECT_EQ(nullptr, StatisticsRecorder::Find("Test.Twic"));
}

TEST_F(StatisticsRecorderTest, EqualRangesAreShared) {
  auto make = [](int32_t middle) {
    auto* ranges = new BucketRanges(4);
    ranges->set_range(1, 1);
    ranges->set_range(2, middle);
    ranges->set_range(3, INT32_MAX);
    ranges->UpdateChecksum();
    return ranges;
  };
  BucketRanges* first = make(10);
  EXPECT_EQ(first, StatisticsRecorder::RegisterRangesOrDiscardDuplicate(first));
  // Equal entries: the first is returned (the second is freed; ASan would
  // see a leak otherwise).
  EXPECT_EQ(first, StatisticsRecorder::RegisterRangesOrDiscardDuplicate(make(10)));

  // Same checksum, other entries: both kept.
  BucketRanges* impostor = make(11);
  impostor->set_checksum(first->checksum());
  EXPECT_EQ(impostor,
            StatisticsRecorder::RegisterRangesOrDiscardDuplicate(impostor));
}

TEST_F(StatisticsRecorderTest, WriteTextOfAnEmptyRegistry) {
  std::string text;
  StatisticsRecorder::WriteText("", &text);
  EXPECT_EQ("Collections of all histograms\n", text);
  text.clear();
  StatisticsRecorder::WriteText("Nothing", &text);
  EXPECT_EQ("Collections of histograms for Nothing\n", text);
}

TEST_F(StatisticsRecorderTest, WriteTextFiltersAndSorts) {
  Histogram::GetOrCreate("Test.Unique.Name", 1, 100, 10, 0x1);
  RecordSparseSample("Test.Other.B", 3);
  RecordSparseSample("Test.Other.A", 4);

  std::string text;
  StatisticsRecorder::WriteText("Unique", &text);
  EXPECT_EQ(
      "Collections of histograms for Unique\n"
      "Histogram: Test.Unique.Name recorded 0 samples (flags = 0x1)\n"
      "0 ... \n"
      "\n",
      text);

  text.clear();
  StatisticsRecorder::WriteText("Test.Other", &text);
  const size_t a = text.find("Histogram: Test.Other.A");
  const size_t b = text.find("Histogram: Test.Other.B");
  ASSERT_NE(std::string::npos, a);
  ASSERT_NE(std::string::npos, b);
  EXPECT_LT(a, b);
  EXPECT_EQ(std::string::npos, text.find("Unique"));
}

TEST_F(StatisticsRecorderTest, ListHistogramsAndShouldRecord) {
  EXPECT_TRUE(StatisticsRecorder::ListHistograms().empty());
  HistogramBase* a = Histogram::GetOrCreate("Test.List.A", 1, 100, 10, 1);
  HistogramBase* b = SparseHistogram::GetOrCreate("Test.List.B", 1);
  std::vector<HistogramBase*> listed = StatisticsRecorder::ListHistograms();
  std::sort(listed.begin(), listed.end());
  std::vector<HistogramBase*> expected = {a, b};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, listed);

  for (uint32_t hash : {0u, 1u, 0xFFFFFFFFu}) {
    EXPECT_TRUE(StatisticsRecorder::ShouldRecord(hash));
  }
  EXPECT_TRUE(StatisticsRecorder::FindCallback("Test.List.A").is_null());
}

TEST_F(StatisticsRecorderTest, ForgettingKeepsHistogramsAlive) {
  HistogramBase* old = Histogram::GetOrCreate("Test.Forgotten", 1, 100, 10, 1);
  StatisticsRecorder::ForgetAllForTesting();
  EXPECT_EQ(nullptr, StatisticsRecorder::Find("Test.Forgotten"));
  old->Add(3);  // Still usable by whoever holds it.
  EXPECT_EQ(1, old->CopySamples()->TotalCount());
  EXPECT_NE(old, Histogram::GetOrCreate("Test.Forgotten", 1, 100, 10, 1));
}

}  // namespace
}  // namespace kelmbase

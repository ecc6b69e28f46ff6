#include "agent/base/metrics/persistent_histogram_store.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/base/metrics/histogram.h"
#include "agent/base/metrics/histogram_functions.h"
#include "agent/base/metrics/metrics_hashes.h"
#include "agent/base/metrics/persistent_sample_map.h"
#include "agent/base/metrics/sparse_histogram.h"
#include "agent/base/metrics/statistics_recorder.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

using Reference = PersistentMemoryAllocator::Reference;

constexpr size_t kSegmentSize = 64 * 1024;

// A formatted segment in memory; stores over it come and go.
class PersistentHistogramStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    StatisticsRecorder::ForgetAllForTesting();
    PersistentMemoryAllocator::FormatSegment(memory_.data(), kSegmentSize,
                                             4096, 7);
    store_ = OpenStore();
  }

  void TearDown() override {
    PersistentHistogramStore::SetGlobal(nullptr);
    StatisticsRecorder::ForgetAllForTesting();
  }

  std::unique_ptr<PersistentHistogramStore> OpenStore() {
    return std::make_unique<PersistentHistogramStore>(
        std::make_unique<PersistentMemoryAllocator>(
            memory_.data(), kSegmentSize, 4096, /*read_only=*/false));
  }

  PersistentHistogramRecord* RecordAt(Reference ref) {
    return static_cast<PersistentHistogramRecord*>(
        store_->memory_allocator()->GetAsObject(
            ref, PersistentHistogramStore::kTypeIdHistogram,
            sizeof(PersistentHistogramRecord)));
  }

  // The references of all listed histogram records.
  std::vector<Reference> ListedRecords() {
    PersistentBlockIterator iter(store_->memory_allocator());
    std::vector<Reference> refs;
    while (Reference ref =
               iter.GetNextOfType(PersistentHistogramStore::kTypeIdHistogram)) {
      refs.push_back(ref);
    }
    return refs;
  }

  std::vector<uint64_t> memory_ = std::vector<uint64_t>(kSegmentSize / 8, 0);
  std::unique_ptr<PersistentHistogramStore> store_;
};

TEST_F(PersistentHistogramStoreTest, FactoryPutsHistogramsInTheSegment) {
  PersistentHistogramStore::SetGlobal(store_.get());
  HistogramBase* histogram =
      Histogram::GetOrCreate("Test.Persisted", 1, 10000, 50, 0x1);
  EXPECT_EQ(0x1 | HistogramBase::kIsPersistent, histogram->flags());
  histogram->Add(17);
  histogram->AddCount(500, 3);

  const std::vector<Reference> refs = ListedRecords();
  ASSERT_EQ(1u, refs.size());
  PersistentHistogramRecord* record = RecordAt(refs[0]);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(HISTOGRAM, record->histogram_type);
  EXPECT_EQ(0x41, record->flags);
  EXPECT_EQ(1, record->minimum);
  EXPECT_EQ(10000, record->maximum);
  EXPECT_EQ(50u, record->bucket_count);
  EXPECT_EQ(0x977D69F8u, record->ranges_checksum);
  EXPECT_STREQ("Test.Persisted", record->name);
  EXPECT_EQ(MetricNameHash64("Test.Persisted"),
            record->samples_metadata.id.load());
  EXPECT_EQ(1517, record->samples_metadata.sum.load());

  // Another reader of the same segment rebuilds it with the same samples.
  std::unique_ptr<PersistentHistogramStore> reader = OpenStore();
  std::unique_ptr<HistogramBase> rebuilt = reader->GetHistogram(refs[0]);
  ASSERT_NE(nullptr, rebuilt);
  EXPECT_STREQ("Test.Persisted", rebuilt->histogram_name());
  std::unique_ptr<HistogramSamples> samples = rebuilt->CopySamples();
  EXPECT_EQ(4, samples->TotalCount());
  EXPECT_EQ(1, samples->CountOf(17));
  EXPECT_EQ(3, samples->CountOf(500));
  // And both write into the same counts.
  rebuilt->Add(17);
  EXPECT_EQ(2, histogram->CopySamples()->CountOf(17));
}

TEST_F(PersistentHistogramStoreTest, SparseSamplesLiveInRecords) {
  PersistentHistogramStore::SetGlobal(store_.get());
  HistogramBase* histogram = SparseHistogram::GetOrCreate("Test.Sparse", 0x1);
  EXPECT_EQ(0x41, histogram->flags());
  for (int32_t value : {-3, 9, -3, 1 << 30}) histogram->Add(value);
  histogram->AddCount(9, 4);

  const std::vector<Reference> refs = ListedRecords();
  ASSERT_EQ(1u, refs.size());
  PersistentHistogramRecord* record = RecordAt(refs[0]);
  EXPECT_EQ(SPARSE_HISTOGRAM, record->histogram_type);
  EXPECT_EQ(MetricNameHash64("Test.Sparse") + 1,
            record->logged_metadata.id.load());

  std::unique_ptr<PersistentHistogramStore> reader = OpenStore();
  std::unique_ptr<HistogramBase> rebuilt = reader->GetHistogram(refs[0]);
  ASSERT_NE(nullptr, rebuilt);
  std::unique_ptr<HistogramSamples> samples = rebuilt->CopySamples();
  EXPECT_EQ(2, samples->CountOf(-3));
  EXPECT_EQ(5, samples->CountOf(9));
  EXPECT_EQ(1, samples->CountOf(1 << 30));
  EXPECT_EQ(8, samples->TotalCount());
}

TEST_F(PersistentHistogramStoreTest, RecorderImportsOtherWritersHistograms) {
  std::unique_ptr<PersistentHistogramStore> writer = OpenStore();
  PersistentHistogramStore::SetGlobal(writer.get());
  Histogram::GetOrCreate("Test.Imported", 1, 100, 10, 1)->Add(42);
  PersistentHistogramStore::SetGlobal(nullptr);
  StatisticsRecorder::ForgetAllForTesting();

  PersistentHistogramStore::SetGlobal(store_.get());
  HistogramBase* found = StatisticsRecorder::Find("Test.Imported");
  ASSERT_NE(nullptr, found);
  EXPECT_EQ(1, found->CopySamples()->CountOf(42));
  // The factory now finds the imported one.
  EXPECT_EQ(found, Histogram::GetOrCreate("Test.Imported", 1, 100, 10, 1));
}

TEST_F(PersistentHistogramStoreTest, RaceLosersRecordIsAbandoned) {
  Reference ref = 0;
  auto* ranges = new BucketRanges(11);
  LinearHistogram::InitializeLinearRanges(1, 9, ranges);
  const BucketRanges* shared =
      StatisticsRecorder::RegisterRangesOrDiscardDuplicate(ranges);
  std::unique_ptr<HistogramBase> loser = store_->AllocateHistogram(
      LINEAR_HISTOGRAM, "Test.Loser", 1, 9, shared, 1, &ref);
  ASSERT_NE(nullptr, loser);
  store_->FinalizeHistogram(ref, /*registered=*/false);
  EXPECT_TRUE(ListedRecords().empty());
  EXPECT_EQ(nullptr, store_->GetHistogram(ref));
}

// Ways a histogram record can be damaged, each of which must stop the
// rebuild.
struct RecordDamage {
  const char* what;
  void (*damage)(PersistentHistogramRecord* record, char* segment);
};

const RecordDamage kRecordDamages[] = {
    {"name hash differs from the samples id",
     [](PersistentHistogramRecord* r, char*) { r->name[0] = 'X'; }},
    {"empty name", [](PersistentHistogramRecord* r, char*) { r->name[0] = 0; }},
    {"logged id unrelated",
     [](PersistentHistogramRecord* r, char*) { r->logged_metadata.id = 5; }},
    {"samples id unset",
     [](PersistentHistogramRecord* r, char*) { r->samples_metadata.id = 0; }},
    {"checksum differs",
     [](PersistentHistogramRecord* r, char*) { r->ranges_checksum ^= 1; }},
    {"one bucket", [](PersistentHistogramRecord* r, char*) { r->bucket_count = 1; }},
    {"more buckets than the ranges block holds",
     [](PersistentHistogramRecord* r, char*) { r->bucket_count = 12; }},
    // (count + 1) * 4 wraps to 8 in 32 bits.
    {"bucket count that wraps a 32-bit size",
     [](PersistentHistogramRecord* r, char*) { r->bucket_count = 0x40000001; }},
    // count * 8 needs more than 32 bits.
    {"bucket count whose counts need more than 32 bits",
     [](PersistentHistogramRecord* r, char*) { r->bucket_count = 0x3FFFFFFE; }},
    {"ranges reference near 2^32",
     [](PersistentHistogramRecord* r, char*) { r->ranges_ref = 0xFFFFFFF8; }},
    {"counts reference near 2^32",
     [](PersistentHistogramRecord* r, char*) { r->counts_ref = 0xFFFFFFF8; }},
    {"first boundary below 0, checksum to match",
     [](PersistentHistogramRecord* r, char* segment) {
       int32_t* entries = reinterpret_cast<int32_t*>(segment + r->ranges_ref + 16);
       BucketRanges moved(11);
       for (int i = 0; i <= 10; ++i) moved.set_range(i, i == 0 ? -1 : entries[i]);
       moved.UpdateChecksum();
       memcpy(entries, moved.ranges().data(), 11 * sizeof(int32_t));
       r->ranges_checksum = moved.checksum();
     }},
    {"unknown kind",
     [](PersistentHistogramRecord* r, char*) { r->histogram_type = 9; }},
    {"boundaries not increasing",
     [](PersistentHistogramRecord* r, char* segment) {
       int32_t* entries = reinterpret_cast<int32_t*>(segment + r->ranges_ref + 16);
       entries[4] = entries[3];
     }},
};

TEST_F(PersistentHistogramStoreTest, DamagedRecordsAreNotRebuilt) {
  auto* ranges = new BucketRanges(11);
  LinearHistogram::InitializeLinearRanges(1, 9, ranges);
  const BucketRanges* shared =
      StatisticsRecorder::RegisterRangesOrDiscardDuplicate(ranges);
  for (const RecordDamage& d : kRecordDamages) {
    SCOPED_TRACE(d.what);
    Reference ref = 0;
    std::unique_ptr<HistogramBase> made = store_->AllocateHistogram(
        LINEAR_HISTOGRAM, "Test.Damaged", 1, 9, shared, 1, &ref);
    ASSERT_NE(nullptr, made);
    made->AddCount(3, 2);
    made->Add(5);  // A second bucket makes the counts block.
    ASSERT_NE(nullptr, store_->GetHistogram(ref));
    d.damage(RecordAt(ref), reinterpret_cast<char*>(memory_.data()));
    EXPECT_EQ(nullptr, store_->GetHistogram(ref));
  }
}

TEST_F(PersistentHistogramStoreTest, SingleSampleWordNamingNoBucket) {
  auto* ranges = new BucketRanges(11);
  LinearHistogram::InitializeLinearRanges(1, 9, ranges);
  const BucketRanges* shared =
      StatisticsRecorder::RegisterRangesOrDiscardDuplicate(ranges);
  Reference ref = 0;
  std::unique_ptr<HistogramBase> made = store_->AllocateHistogram(
      LINEAR_HISTOGRAM, "Test.Word", 1, 9, shared, 1, &ref);
  ASSERT_NE(nullptr, made);
  made.reset();
  // Count 2 in bucket 60 of a 10-bucket histogram.
  const uint32_t word = (2u << 16) | 60u;
  memcpy(reinterpret_cast<char*>(&RecordAt(ref)->samples_metadata) + 20,
         &word, sizeof(word));

  std::unique_ptr<HistogramBase> rebuilt = store_->GetHistogram(ref);
  ASSERT_NE(nullptr, rebuilt);
  std::string text;
  rebuilt->WriteGraphText(&text);
  rebuilt->Add(4);  // Moves the word into a counts array: it has no place.
  std::unique_ptr<HistogramSamples> samples = rebuilt->CopySamples();
  EXPECT_EQ(1, samples->TotalCount());
  EXPECT_EQ(1, samples->CountOf(4));
  EXPECT_FALSE(store_->memory_allocator()->IsCorrupt());
}

TEST_F(PersistentHistogramStoreTest, NameMustEndInsideItsBlock) {
  Reference ref = 0;
  std::unique_ptr<HistogramBase> made = store_->AllocateHistogram(
      SPARSE_HISTOGRAM, "Test.Unterminated", 0, 0, nullptr, 1, &ref);
  ASSERT_NE(nullptr, made);
  made->Add(1);
  PersistentHistogramRecord* record = RecordAt(ref);
  const size_t size = store_->memory_allocator()->GetAllocSize(ref);
  memset(record->name, 'a', size - offsetof(PersistentHistogramRecord, name));
  EXPECT_EQ(nullptr, store_->GetHistogram(ref));
}

TEST_F(PersistentHistogramStoreTest, FullSegmentFallsBackToTheHeap) {
  // Fill the segment.
  while (store_->memory_allocator()->Allocate(4000, 1) != 0) {
  }
  PersistentHistogramStore::SetGlobal(store_.get());
  HistogramBase* histogram = Histogram::GetOrCreate("Test.Heap", 1, 100, 10, 1);
  EXPECT_EQ(1, histogram->flags());
  histogram->Add(5);
  EXPECT_EQ(1, histogram->CopySamples()->TotalCount());
}

// A sparse histogram in persistent memory whose cell changes sign reports
// into "Vorlum.NegativeSamples.Histogram". When it is that histogram
// itself, the report must not wait for the lock its own add holds.
TEST_F(PersistentHistogramStoreTest, NegativeSampleReportIntoItself) {
  PersistentHistogramStore::SetGlobal(store_.get());
  HistogramBase* target =
      SparseHistogram::GetOrCreate("Vorlum.NegativeSamples.Histogram", 0x1);
  const int32_t own_id = static_cast<int32_t>(
      static_cast<uint32_t>(MetricNameHash64("Vorlum.NegativeSamples.Histogram")));

  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread adder([target, done] {
    target->AddCount(11, INT32_MAX);
    target->AddCount(11, 1);  // Wraps to INT32_MIN: reported.
    done->store(true);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done->load() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!done->load()) {
    adder.detach();
    FAIL() << "recording deadlocked";
  }
  adder.join();

  std::unique_ptr<HistogramSamples> samples = target->CopySamples();
  EXPECT_EQ(INT32_MIN, samples->CountOf(11));
  EXPECT_EQ(1, samples->CountOf(own_id));
  HistogramBase* reasons = StatisticsRecorder::Find("Vorlum.NegativeSamples.Reason");
  ASSERT_NE(nullptr, reasons);
  EXPECT_EQ(1, reasons->CopySamples()->CountOf(HistogramSamples::kCountChangedSign));
}

TEST_F(PersistentHistogramStoreTest, PersistentMapReportsNegativeCounts) {
  SamplesMetadata meta;
  PersistentSampleMap map(0xABCD00000042ULL, store_.get(), &meta);
  const struct {
    int32_t count;
    int32_t want_cell;
    int32_t want_reason;  // 0: none
  } kSteps[] = {
      {5, 5, 0},
      {-2, 3, HistogramSamples::kPersistentMapNegativeCount},
      {-7, -4, HistogramSamples::kPersistentMapCellTurnedNegative},
      {10, 6, HistogramSamples::kCountChangedSign},
      {INT32_MAX, INT32_MIN + 5, HistogramSamples::kCountChangedSign},
  };
  int32_t reasons[10] = {};
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.count);
    map.AddCountAt(4, step.count);
    EXPECT_EQ(step.want_cell, map.CountOf(4));
    if (step.want_reason != 0) ++reasons[step.want_reason];
    HistogramBase* reason_histogram =
        StatisticsRecorder::Find("Vorlum.NegativeSamples.Reason");
    for (int32_t reason : {5, 6, 8}) {
      EXPECT_EQ(reasons[reason],
                reason_histogram == nullptr
                    ? 0
                    : reason_histogram->CopySamples()->CountOf(reason))
          << reason;
    }
  }
  HistogramBase* increments =
      StatisticsRecorder::Find("Vorlum.NegativeSamples.Increment");
  ASSERT_NE(nullptr, increments);
  std::unique_ptr<HistogramSamples> seen = increments->CopySamples();
  EXPECT_EQ(4, seen->TotalCount());
  EXPECT_EQ(1, seen->CountOf(7));
  HistogramBase* ids = StatisticsRecorder::Find("Vorlum.NegativeSamples.Histogram");
  ASSERT_NE(nullptr, ids);
  EXPECT_EQ(4, ids->CopySamples()->CountOf(0x42));

  // The cell lives in a sample record that another map of the id finds.
  SamplesMetadata other_meta;
  PersistentSampleMap other(0xABCD00000042ULL, store_.get(), &other_meta);
  EXPECT_EQ(INT32_MIN + 5, other.CountOf(4));
}

}  // namespace
}  // namespace kelmbase

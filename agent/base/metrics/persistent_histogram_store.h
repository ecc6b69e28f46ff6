#ifndef AGENT_BASE_METRICS_PERSISTENT_HISTOGRAM_STORE_H_
#define AGENT_BASE_METRICS_PERSISTENT_HISTOGRAM_STORE_H_

// Histograms laid out in the blocks of a PersistentMemoryAllocator, so that
// another reader of the segment can find and read them, and rebuilt as
// histogram objects from those blocks.
//
// When a store is installed process-wide (SetGlobal), the histogram
// factories make new histograms in it and the statistics recorder imports
// the histograms that others wrote into it. Records come from memory that
// may be damaged or hostile: every record is checked before a histogram is
// built from it, and a bad one yields null.
//
// Threads: any thread may allocate, finalise, rebuild and import at once;
// the sample-record directory takes its own lock.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/base/metrics/histogram_base.h"
#include "agent/base/metrics/histogram_samples.h"
#include "agent/base/metrics/persistent_memory_allocator.h"
#include "agent/base/synchronization/lock.h"

namespace kelmbase {

class BucketRanges;
class SampleRecordDirectory;

// The data of a histogram block (max(88, 81 + name length) bytes).
struct PersistentHistogramRecord {
  int32_t histogram_type;
  // Always has HistogramBase::kIsPersistent.
  int32_t flags;
  int32_t minimum;
  int32_t maximum;
  uint32_t bucket_count;
  uint32_t ranges_ref;
  uint32_t ranges_checksum;
  // 0 until the counts block is first needed.
  std::atomic<uint32_t> counts_ref;
  SamplesMetadata samples_metadata;
  SamplesMetadata logged_metadata;
  // NUL-terminated; the block may hold more than these 8 bytes.
  char name[8];
};
static_assert(sizeof(PersistentHistogramRecord) == 88);

// The data of a sparse histogram's sample block: one value and its count.
struct PersistentSampleRecord {
  uint64_t id;
  int32_t value;
  int32_t count;
};
static_assert(sizeof(PersistentSampleRecord) == 16);

// The sample records of one sample-map id, handed out one by one to the map
// that uses them. Guarded by its directory's lock, except the list of
// references already taken, which only its user reads.
class SampleRecordSource {
 public:
  using Reference = PersistentMemoryAllocator::Reference;

  SampleRecordSource(SampleRecordDirectory* directory, uint64_t id);
  SampleRecordSource(const SampleRecordSource&) = delete;
  SampleRecordSource& operator=(const SampleRecordSource&) = delete;
  ~SampleRecordSource();

  // The next record of this id, loading more from the segment when all
  // known ones were handed out; 0 when there are no more.
  Reference GetNext();
  // A new iterable record (id, value, count 0); 0 when none can be made.
  Reference CreateNew(int32_t value);
  // Forgets `user` when it is the current user.
  void Release(const void* user);

 private:
  friend class SampleRecordDirectory;

  SampleRecordDirectory* const directory_;
  const uint64_t id_;
  const void* user_ = nullptr;
  size_t handed_out_ = 0;
  std::vector<Reference> references_;
  // Found for this id by other sources' loads, not yet in `references_`.
  std::vector<Reference> found_;
};

// Sorts the segment's sample records by id as they are read.
class SampleRecordDirectory {
 public:
  using Reference = PersistentMemoryAllocator::Reference;

  explicit SampleRecordDirectory(PersistentMemoryAllocator* allocator);
  SampleRecordDirectory(const SampleRecordDirectory&) = delete;
  SampleRecordDirectory& operator=(const SampleRecordDirectory&) = delete;
  ~SampleRecordDirectory();

  // The source of `id`, made if needed, now used by `user` from its first
  // record on.
  SampleRecordSource* UseSampleRecords(uint64_t id, const void* user);

  PersistentMemoryAllocator* allocator() const { return allocator_; }

 private:
  friend class SampleRecordSource;

  // Appends more references to `source`; false when none was found.
  bool LoadRecords(SampleRecordSource* source);
  SampleRecordSource* GetOrCreateSourceLocked(uint64_t id);

  PersistentMemoryAllocator* const allocator_;
  Lock lock_;
  // Guarded by `lock_`.
  PersistentBlockIterator iterator_;
  std::map<uint64_t, std::unique_ptr<SampleRecordSource>> sources_;
};

class PersistentHistogramStore {
 public:
  using Reference = PersistentMemoryAllocator::Reference;

  static constexpr uint32_t kTypeIdHistogram = 0xF1645913;
  static constexpr uint32_t kTypeIdRangesArray = 0xBCEA225B;
  static constexpr uint32_t kTypeIdCountsArray = 0x53215531;
  static constexpr uint32_t kTypeIdSampleRecord = 0x8FE6A6A0;

  explicit PersistentHistogramStore(
      std::unique_ptr<PersistentMemoryAllocator> allocator);
  PersistentHistogramStore(const PersistentHistogramStore&) = delete;
  PersistentHistogramStore& operator=(const PersistentHistogramStore&) =
      delete;
  ~PersistentHistogramStore();

  // The process-wide store that the factories and the recorder use; null
  // (the default) for none. An installed store must outlive every
  // histogram made through it.
  static void SetGlobal(PersistentHistogramStore* store);
  static PersistentHistogramStore* GetGlobal();

  PersistentMemoryAllocator* memory_allocator() { return allocator_.get(); }

  // A new histogram in a new record: `ranges` must be the registered
  // instance (null for a sparse histogram). Null when the segment is
  // corrupt or has no room. The record's reference goes to `ref_out`; the
  // record stays invisible to readers until FinalizeHistogram.
  std::unique_ptr<HistogramBase> AllocateHistogram(
      HistogramType type, const std::string& name, int32_t minimum,
      int32_t maximum, const BucketRanges* ranges, int32_t flags,
      Reference* ref_out);

  // The histogram of the record at `ref`, or null when the record is
  // missing or damaged.
  std::unique_ptr<HistogramBase> GetHistogram(Reference ref);

  // Makes a registered histogram's record iterable, or abandons the record
  // of one that lost the registration race.
  void FinalizeHistogram(Reference ref, bool registered);

  // Registers with the statistics recorder every histogram record listed
  // since the last import (first registration of a name wins).
  void ImportHistogramsToRecorder();

  SampleRecordSource* UseSampleRecords(uint64_t id, const void* user);

 private:
  std::unique_ptr<HistogramBase> CreateHistogram(
      PersistentHistogramRecord* record);
  // The reference of a copy of `ranges` in this segment, made if needed.
  Reference GetOrCreateRangesBlock(const BucketRanges* ranges);

  std::unique_ptr<PersistentMemoryAllocator> allocator_;
  SampleRecordDirectory sample_records_;
  std::atomic<Reference> last_created_{0};
  PersistentBlockIterator import_iterator_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_PERSISTENT_HISTOGRAM_STORE_H_

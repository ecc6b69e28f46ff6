#ifndef AGENT_BASE_METRICS_BUCKET_RANGES_H_
#define AGENT_BASE_METRICS_BUCKET_RANGES_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelmbase {

// The bucket boundaries of a bucketed histogram: bucket_count() + 1 entries,
// the first 0 and the last INT32_MAX; bucket i holds the samples v with
// range(i) <= v < range(i + 1). Filled once by the factory, then registered
// with the StatisticsRecorder, shared by every histogram with equal ranges
// and never changed or freed; after registration any thread may read it.
class BucketRanges {
 public:
  // `num_ranges` zero entries, checksum 0, no persistent copy.
  explicit BucketRanges(size_t num_ranges);
  BucketRanges(const BucketRanges&) = delete;
  BucketRanges& operator=(const BucketRanges&) = delete;
  ~BucketRanges();

  size_t size() const { return ranges_.size(); }
  int32_t range(size_t i) const { return ranges_[i]; }
  void set_range(size_t i, int32_t value) { ranges_[i] = value; }
  // Entries minus one (0 for no entries).
  size_t bucket_count() const {
    return ranges_.empty() ? 0 : ranges_.size() - 1;
  }
  const std::vector<int32_t>& ranges() const { return ranges_; }

  uint32_t checksum() const { return checksum_; }
  void set_checksum(uint32_t checksum) { checksum_ = checksum; }

  // The checksum of the current entries (see the .cc for the rule).
  uint32_t CalculateChecksum() const;
  void UpdateChecksum() { checksum_ = CalculateChecksum(); }
  bool ChecksumMatches() const { return checksum_ == CalculateChecksum(); }
  // Equal checksum and equal entries in order.
  bool SameAs(const BucketRanges& other) const;

  // The reference of this list's copy in persistent memory; 0 for none.
  uint32_t persistent_reference() const {
    return persistent_reference_.load(std::memory_order_acquire);
  }
  void set_persistent_reference(uint32_t ref) const {
    persistent_reference_.store(ref, std::memory_order_release);
  }

 private:
  std::vector<int32_t> ranges_;
  uint32_t checksum_ = 0;
  mutable std::atomic<uint32_t> persistent_reference_{0};
};

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_BUCKET_RANGES_H_

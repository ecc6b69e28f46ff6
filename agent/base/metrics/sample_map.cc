#include "agent/base/metrics/sample_map.h"

namespace kelmbase {

namespace {

int32_t WrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) +
                              static_cast<uint32_t>(b));
}

}  // namespace

SampleMap::SampleMap() : SampleMap(0) {}

SampleMap::SampleMap(uint64_t id) : HistogramSamples(id, &owned_meta) {}

SampleMap::~SampleMap() = default;

void SampleMap::AddCountAt(int32_t value, int32_t count) {
  int32_t& cell = sample_counts_[value];
  cell = WrappingAdd(cell, count);
  AddToSumAndCount(static_cast<int64_t>(count) * value, count);
}

int32_t SampleMap::CountOf(int32_t value) const {
  auto it = sample_counts_.find(value);
  return it == sample_counts_.end() ? 0 : it->second;
}

int32_t SampleMap::TotalCount() const {
  int32_t total = 0;
  for (const auto& [value, count] : sample_counts_) {
    total = WrappingAdd(total, count);
  }
  return total;
}

std::unique_ptr<SampleCountIterator> SampleMap::MakeIterator() const {
  return std::make_unique<SampleMapIterator>(sample_counts_);
}

bool SampleMap::ApplyIterator(SampleCountIterator* iter, Operator op) {
  for (; !iter->IsDone(); iter->Advance()) {
    int32_t min = 0;
    int64_t max = 0;
    int32_t count = 0;
    iter->Current(&min, &max, &count);
    if (max != int64_t{min} + 1) return false;
    int32_t& cell = sample_counts_[min];
    cell = op == ADD ? WrappingAdd(cell, count)
                     : static_cast<int32_t>(static_cast<uint32_t>(cell) -
                                            static_cast<uint32_t>(count));
  }
  return true;
}

}  // namespace kelmbase

#include "agent/base/metrics/histogram_functions.h"

#include "agent/base/metrics/histogram.h"
#include "agent/base/metrics/sparse_histogram.h"

namespace kelmbase {

void RecordCounts10000(const char* name, int32_t sample) {
  Histogram::GetOrCreate(name, 1, 10000, 50,
                         HistogramBase::kUmaTargetedHistogramFlag)
      ->Add(sample);
}

void RecordSparseSample(const char* name, int32_t sample) {
  SparseHistogram::GetOrCreate(name, HistogramBase::kUmaTargetedHistogramFlag)
      ->Add(sample);
}

}  // namespace kelmbase

#ifndef AGENT_BASE_METRICS_HISTOGRAM_FUNCTIONS_H_
#define AGENT_BASE_METRICS_HISTOGRAM_FUNCTIONS_H_

// One-line recording into histograms made on first use. Any thread.

#include <cstdint>

namespace kelmbase {

// Adds `sample` to the exponential histogram `name` with 50 buckets from 1
// to 10000.
void RecordCounts10000(const char* name, int32_t sample);

// Adds one sample to the sparse histogram `name`, where every distinct
// value is its own bucket.
void RecordSparseSample(const char* name, int32_t sample);

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_HISTOGRAM_FUNCTIONS_H_

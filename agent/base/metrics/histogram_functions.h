#ifndef AGENT_BASE_METRICS_HISTOGRAM_FUNCTIONS_H_
#define AGENT_BASE_METRICS_HISTOGRAM_FUNCTIONS_H_

#include <cstdint>

namespace kelmbase {

// Adds one sample to the sparse histogram `name` (made on first use), where
// every distinct value is its own bucket.
void RecordSparseSample(const char* name, int32_t sample);

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_HISTOGRAM_FUNCTIONS_H_

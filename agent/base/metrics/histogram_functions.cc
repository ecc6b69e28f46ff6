#include "agent/base/metrics/histogram_functions.h"

namespace kelmbase {

// Placeholder until the histogram classes exist: the sample is dropped.
void RecordSparseSample(const char* name, int32_t sample) {}

}  // namespace kelmbase
